#include <QApplication>
#include <QIcon>

#include "window/form1.h"

#ifdef Q_OS_WIN
#include <QStyle>
#include <QStyleHints>

namespace {

// Windows 10's native style draws its controls light whatever the user's
// mode, and in dark mode makes Qt's palette light as well. Where the user's
// scheme is dark, Qt's Fusion style draws the window in the system's dark
// palette instead; back in light mode the native style returns. Windows 11's
// own style, and the styles of other systems, follow the scheme themselves.
constexpr QLatin1StringView kLightOnlyStyle("windowsvista");

void followColourScheme() {
    const bool dark = QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Dark;
    const QString wanted = dark ? QStringLiteral("fusion") : QString(kLightOnlyStyle);
    if (QApplication::style()->name() != wanted) {
        QApplication::setStyle(wanted);
    }
}

}  // namespace
#endif

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The id of the installed desktop entry, so that desktops match the
    // window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MANDELBROT_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(MANDELBROT_APP_ID)));
#ifdef Q_OS_WIN
    if (QApplication::style()->name() == kLightOnlyStyle) {
        followColourScheme();
        QObject::connect(QGuiApplication::styleHints(), &QStyleHints::colorSchemeChanged, &app, followColourScheme);
    }
#endif
    Form1 form;
    form.Form_Load();
    return QApplication::exec();
}
