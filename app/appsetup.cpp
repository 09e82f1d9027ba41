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

QString captureArgument(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QApplication::translate("main", "Capture to replay."));
    // Options Qt does not know are no reason to refuse the file.
    parser.parse(arguments);
    return parser.positionalArguments().value(0);
}
