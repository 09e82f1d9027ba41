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
    const LaunchOptions options = launchOptions(QApplication::arguments());
    if (options.share)
        window.startSharing(options.shareAddress);
    const QString capture = options.capture;
    if (!capture.isEmpty())
        QTimer::singleShot(0, &window, [&window, capture] { window.openCapture(capture); });
    return app.exec();
}
