#pragma once
// A file dialog with fixed filters that remembers the last name chosen in it.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace window {

enum class DialogMode { Open, Save };

// What a dialog is asked to show.
struct DialogRequest {
    DialogMode mode = DialogMode::Open;
    QString title;       // the command that asks
    QString filter;      // "Description (*.ext)|*.ext"
    QString initialName; // the last name chosen in this dialog, or empty
    // Offered after `filter`, which stays the one selected at first.
    QStringList moreFilters;
};

// Returns the chosen name, or an empty name when the user cancels.
using FileChooser = std::function<QString(QWidget* parent, const DialogRequest& request)>;

// Shows Qt's own file dialog: no overwrite question, no extension added, and names that do not
// exist are accepted (loading or saving reports what is wrong with them).
QString chooseWithFileDialog(QWidget* parent, const DialogRequest& request);

// "Description (*.ext)|*.ext" as a Qt name filter.
QString qtNameFilter(const QString& filter);

class FileDialog {
  public:
    // `openFilters` are offered after `filter` when the dialog opens a file, not when it saves
    // one.
    FileDialog(QString filter, FileChooser chooser, QStringList openFilters = {});

    // The chosen name, or empty on cancel. A chosen name is offered first next time.
    QString showOpen(QWidget* parent, const QString& title);
    QString showSave(QWidget* parent, const QString& title);

    const QString& filter() const { return m_filter; }
    const QString& lastName() const { return m_lastName; }
    // Offers this name first next time, as if it had been chosen here (for a file named on the
    // command line or dropped on the window).
    void remember(const QString& name) { m_lastName = name; }

  private:
    QString show(QWidget* parent, DialogMode mode, const QString& title);

    QString m_filter;
    QStringList m_openFilters;
    FileChooser m_chooser;
    QString m_lastName;
};

} // namespace window
