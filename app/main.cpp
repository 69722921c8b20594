#include "app/startup.h"
#include "ui/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The icon lives in a static library, whose resources are not registered
    // by themselves.
    Q_INIT_RESOURCE(resources);

    InitStartupFields(argc, argv);
    ApplySingleInstanceRule();

    QApplication application(argc, argv);
    int exitCode = 0;
    {
        MainWindow window;
        window.show();
        exitCode = application.exec();
    }
    return exitCode;
}
