#include "app/application.h"
#include "app/form1.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    app::PrepareApplication();
    Form1 window;
    window.show();
    app::OpenFromCommandLine(window, QApplication::arguments());
    return QApplication::exec();
}
