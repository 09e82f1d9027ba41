#ifndef VANTOSCOPE_PORTWATCH_H
#define VANTOSCOPE_PORTWATCH_H

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Tells the port list when the set of serial ports may have changed, so that
// it re-enumerates only then: enumeration opens thousands of files under
// /sys. Device nodes come and go in /dev (and extra ports in their own
// folders), which inotify reports for next to nothing. Where no folder can be
// watched it falls back to asking every second.
class PortWatch : public QObject
{
    Q_OBJECT
public:
    // Watches each of `folders` (see deviceFolders()); with none that can be
    // watched, polls every second instead.
    explicit PortWatch(const QStringList &folders, QObject *parent = nullptr);

    // True when changes are noticed by watching; false when polling.
    bool watching() const { return !watcher.directories().isEmpty(); }
    QStringList watchedFolders() const { return watcher.directories(); }

    // Folders that hold the system's serial ports and the extra ports named in
    // the colon-separated list, each the nearest existing folder of a path.
    static QStringList deviceFolders(const QString &extraPorts);

signals:
    // Something in a watched folder changed, or the poll came round.
    void mayHaveChanged();

private:
    void changed();

    QFileSystemWatcher watcher;
    QTimer settle; // coalesces a burst of changes
    QTimer late;   // one more look once udev has finished with a new device
    QTimer poll;
};

#endif
