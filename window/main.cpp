#include <QApplication>
#include <QIcon>

#include "window/form1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The id of the installed desktop entry, so that desktops match the
    // window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MANDELBROT_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(MANDELBROT_APP_ID)));
    Form1 form;
    form.Form_Load();
    return QApplication::exec();
}
