#include "appsetup.h"

#include <QApplication>
#include <QFile>
#include <QFont>

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
