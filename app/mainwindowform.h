#ifndef VANTOSCOPE_MAINWINDOWFORM_H
#define VANTOSCOPE_MAINWINDOWFORM_H

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QStatusBar;
class QWidget;

// The window's form: its actions, the placeholder central widget, the
// (hidden) menu bar with its three menus and the status bar.
struct MainWindowForm
{
    QAction *actionStart = nullptr;
    QAction *actionStop = nullptr;
    QAction *actionExit = nullptr;
    QAction *actionFullScreen = nullptr;
    QAction *actionHelp = nullptr;
    QAction *actionSaveScan = nullptr;
    QAction *actionRecord = nullptr;
    QAction *actionOpenCapture = nullptr;
    QWidget *centralWidget = nullptr;
    QMenuBar *menuBar = nullptr;
    QMenu *menu = nullptr;
    QMenu *menu_File = nullptr;
    QMenu *menu_Help = nullptr;
    QStatusBar *statusBar = nullptr;

    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};

#endif
