#include "mainwindow.h"

#include <QApplication>
#include <QTimer>

#include "appsetup.h"

int main(int argc, char *argv[])
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    applyApplicationStyle(app);
    MainWindow window;
    window.show();
    const QString capture = captureArgument(QApplication::arguments());
    if (!capture.isEmpty())
        QTimer::singleShot(0, &window, [&window, capture] { window.openCapture(capture); });
    return app.exec();
}
