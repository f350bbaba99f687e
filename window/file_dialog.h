#pragma once
// A file dialog with one fixed filter that remembers the last name chosen in it.

#include <QString>
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
    FileDialog(QString filter, FileChooser chooser);

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
    FileChooser m_chooser;
    QString m_lastName;
};

} // namespace window
