#ifndef VANTOSCOPE_WINDOWACTIONS_H
#define VANTOSCOPE_WINDOWACTIONS_H

class QAction;
class QMenu;
class QMainWindow;

// The main window's actions with their icons, texts and shortcuts. Making
// them also gives the window its menu bar (File, Settings and Help, hidden
// by the window) and its status bar; the central widget is the window's own.
struct WindowActions
{
    explicit WindowActions(QMainWindow *window);

    QAction *start = nullptr;
    QAction *stop = nullptr;
    QAction *exit = nullptr;
    QAction *fullScreen = nullptr;
    QAction *help = nullptr;
    QAction *saveScan = nullptr;
    QAction *record = nullptr;
    QAction *openCapture = nullptr;
    QAction *bench = nullptr;
    QAction *reconnect = nullptr;
    QAction *shareLive = nullptr;
    QAction *exportMcap = nullptr;
    // Export: MCAP… (a replay's scans for robotics tools).
    QMenu *exportMenu = nullptr;
};

#endif
