#include <QApplication>
#include <QIcon>
#include <QRect>
#include <QScreen>

#include <algorithm>

#include "window/form1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The id of the installed desktop entry, so that desktops match the
    // window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MANDELBROT_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(MANDELBROT_APP_ID)));
    Form1 form;
#ifdef Q_OS_WASM
    // Only the title bar: closing the window would leave an empty page, and
    // a window of fixed size has nothing to maximise. Closing the page's tab
    // ends the program.
    form.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
#endif
    form.Form_Load();
#ifdef Q_OS_WASM
    // A browser shows a program's window full screen unless told otherwise.
    // This one keeps its size and title bar, as on a desktop, in the middle
    // of the page, which shows none of this before main returns; and back in
    // the middle whenever the page changes its size, as a phone turned on its
    // side or a scaled page does. A browser has no icon theme: the icon for
    // the title bar comes with the program.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/" MANDELBROT_APP_ID ".png")));
    form.showNormal();
    const auto centre = [&form] {
        QRect frame = form.frameGeometry();
        frame.moveCenter(form.screen()->availableGeometry().center());
        form.move(std::max(frame.left(), 0), std::max(frame.top(), 0));
    };
    centre();
    QObject::connect(form.screen(), &QScreen::availableGeometryChanged, &form, centre);
#endif
    return QApplication::exec();
}
