// greyplanes: the desktop window that reduces a bitmap to four grey levels and writes its two
// bit planes as C arrays.

#include "window/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("greyplanes"));
    QApplication::setDesktopFileName(QStringLiteral("greyplanes"));
    window::Form1 form;
    form.show();
    return QApplication::exec();
}
