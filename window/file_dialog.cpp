#include "window/file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace window {

QString qtNameFilter(const QString& filter) {
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        return filter;
    }
    const QString description = filter.left(bar).trimmed();
    const QString patterns = filter.mid(bar + 1).replace(QLatin1Char(';'), QLatin1Char(' '));
    // Qt reads the patterns from the last parentheses; a description that already shows them
    // is used as it is.
    if (description.endsWith(QStringLiteral("(%1)").arg(patterns))) {
        return description;
    }
    return QStringLiteral("%1 (%2)").arg(description, patterns);
}

QString chooseWithFileDialog(QWidget* parent, const DialogRequest& request) {
    QFileDialog dialog(parent, request.title);
    // Qt's own dialog behaves the same on every desktop, and test scripts can type into it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(request.mode == DialogMode::Open ? QFileDialog::AcceptOpen
                                                          : QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters{qtNameFilter(request.filter)};
    for (const QString& more : request.moreFilters) {
        filters << qtNameFilter(more);
    }
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.front());
    dialog.setDefaultSuffix(QString());
    if (!request.initialName.isEmpty()) {
        const QFileInfo initial(request.initialName);
        dialog.setDirectory(initial.absolutePath());
        dialog.selectFile(initial.fileName());
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList names = dialog.selectedFiles();
    return names.isEmpty() ? QString() : names.first();
}

FileDialog::FileDialog(QString filter, FileChooser chooser, QStringList openFilters)
    : m_filter(std::move(filter)), m_openFilters(std::move(openFilters)),
      m_chooser(std::move(chooser)) {}

QString FileDialog::showOpen(QWidget* parent, const QString& title) {
    return show(parent, DialogMode::Open, title);
}

QString FileDialog::showSave(QWidget* parent, const QString& title) {
    return show(parent, DialogMode::Save, title);
}

QString FileDialog::show(QWidget* parent, DialogMode mode, const QString& title) {
    const QString name =
        m_chooser(parent, DialogRequest{mode, title, m_filter, m_lastName,
                                        mode == DialogMode::Open ? m_openFilters : QStringList()});
    if (!name.isEmpty()) {
        m_lastName = name;
    }
    return name;
}

} // namespace window
