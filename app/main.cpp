#include "mainwindow.h"

#include <QApplication>

#include "appsetup.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    applyApplicationStyle(app);
    MainWindow window;
    window.show();
    return app.exec();
}
