#include <QApplication>

#include "window/form1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Form1 form;
    form.Form_Load();
    return QApplication::exec();
}
