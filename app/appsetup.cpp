#include "appsetup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFont>

void enableHighDpiScaling()
{
    // Qt 6 always scales and draws icons at the screen's resolution.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void initApplicationResources()
{
    // The resources live in a static library; make sure they are registered.
    Q_INIT_RESOURCE(resources);
}

void applyApplicationStyle(QApplication &app)
{
    initApplicationResources();
    QFile file(QStringLiteral(":/style/light.css"));
    if (file.open(QFile::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(file.readAll()));
    app.setFont(QFont(QStringLiteral("微软雅黑"), 10));
    file.close();
}

LaunchOptions launchOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QApplication::translate("main", "Capture to replay."));
    const QCommandLineOption share(
        QStringLiteral("share"),
        QApplication::translate("main", "Share the live scan on [ADDRESS:]PORT."),
        QStringLiteral("[ADDRESS:]PORT"));
    parser.addOption(share);
    // Options Qt does not know are no reason to refuse the file.
    parser.parse(arguments);
    LaunchOptions options;
    options.capture = parser.positionalArguments().value(0);
    options.share = parser.isSet(share);
    options.shareAddress = parser.value(share);
    return options;
}

QString captureArgument(const QStringList &arguments)
{
    return launchOptions(arguments).capture;
}
