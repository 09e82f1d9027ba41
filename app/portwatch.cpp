#include "portwatch.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A new node is there before udev has recorded what it is; its vendor
// becomes known shortly after.
constexpr int settleMs = 200;
constexpr int lateMs = 900;
constexpr int pollMs = 1000;

QString nearestExistingFolder(const QString &path)
{
    QFileInfo info(QFileInfo(path).absolutePath());
    while (!info.isDir() && !info.isRoot())
        info.setFile(info.absolutePath());
    return info.isDir() ? info.absoluteFilePath() : QString();
}

} // namespace

PortWatch::PortWatch(const QStringList &folders, QObject *parent) : QObject(parent)
{
    for (const QString &folder : folders)
        if (!folder.isEmpty() && !watcher.directories().contains(folder))
            watcher.addPath(folder);

    settle.setSingleShot(true);
    settle.setInterval(settleMs);
    late.setSingleShot(true);
    late.setInterval(lateMs);
    poll.setInterval(pollMs);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &PortWatch::changed);
    connect(&settle, &QTimer::timeout, this, &PortWatch::mayHaveChanged);
    connect(&late, &QTimer::timeout, this, &PortWatch::mayHaveChanged);
    connect(&poll, &QTimer::timeout, this, &PortWatch::mayHaveChanged);
    if (!watching())
        poll.start();
}

void PortWatch::changed()
{
    settle.start();
    late.start();
}

QStringList PortWatch::deviceFolders(const QString &extraPorts)
{
    QStringList folders{QStringLiteral("/dev")};
    const QStringList paths = extraPorts.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : paths) {
        const QString folder = nearestExistingFolder(path);
        if (!folder.isEmpty() && !folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}
