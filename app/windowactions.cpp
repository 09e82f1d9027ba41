#include "windowactions.h"

#include "recordicon.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>

namespace {

// The texts belong to the window: they are translated in its context.
QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QAction *makeAction(QMainWindow *window, const char *name, const QIcon &icon, const char *text)
{
    auto *action = new QAction(window);
    action->setObjectName(QString::fromLatin1(name));
    if (!icon.isNull())
        action->setIcon(icon);
    action->setText(windowText(text));
    return action;
}

QMenu *makeMenu(QMenuBar *menuBar, const char *name, const char *title)
{
    auto *menu = new QMenu(menuBar);
    menu->setObjectName(QString::fromLatin1(name));
    menu->setTitle(windowText(title));
    return menu;
}

} // namespace

WindowActions::WindowActions(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(400, 300);

    QStyle *style = window->style();
    start = makeAction(window, "actionStart", QIcon(QStringLiteral(":/icons/start.png")), "Start");
    stop = makeAction(window, "actionStop", QIcon(QStringLiteral(":/icons/stop.png")), "Stop");
    exit = makeAction(window, "actionExit", QIcon(), "Exit");
    exit->setShortcut(QKeySequence(windowText("Ctrl+Q")));
    fullScreen = makeAction(window, "actionFullScreen",
                            QIcon(QStringLiteral(":/icons/fullscreen1.png")), "Full Screen");
    help = makeAction(window, "actionHelp", QIcon(QStringLiteral(":/icons/help.png")), "Help");
    saveScan = makeAction(window, "actionSaveScan",
                          style->standardIcon(QStyle::SP_DialogSaveButton), "Save scan…");
    saveScan->setShortcut(QKeySequence(windowText("Ctrl+S")));
    record = makeAction(window, "actionRecord", recordIcon(), "Record");
    record->setCheckable(true);
    openCapture = makeAction(window, "actionOpenCapture",
                             style->standardIcon(QStyle::SP_DialogOpenButton), "Open capture…");
    openCapture->setShortcut(QKeySequence(windowText("Ctrl+O")));

    bench = makeAction(window, "actionBench", style->standardIcon(QStyle::SP_DialogApplyButton),
                       "Bench");
    bench->setCheckable(true);
    bench->setShortcut(QKeySequence(windowText("Ctrl+B")));
    bench->setToolTip(windowText("Bench station: check unit after unit (Ctrl+B)"));

    reconnect = makeAction(window, "actionReconnect", QIcon(), "Reconnect automatically");
    reconnect->setCheckable(true);
    reconnect->setChecked(true);
    shareLive = makeAction(window, "actionShareLive", QIcon(), "Share live");
    shareLive->setCheckable(true);
    exportMcap = makeAction(window, "actionExportMcap", QIcon(), "MCAP…");

    auto *menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    QMenu *settingsMenu = makeMenu(menuBar, "menu", "&Settings");
    QMenu *fileMenu = makeMenu(menuBar, "menu_File", "&File");
    QMenu *helpMenu = makeMenu(menuBar, "menu_Help", "&Help");
    exportMenu = makeMenu(menuBar, "menuExport", "Export");
    exportMenu->addAction(exportMcap);
    window->setMenuBar(menuBar);

    auto *statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);

    menuBar->addMenu(fileMenu);
    menuBar->addMenu(settingsMenu);
    menuBar->addMenu(helpMenu);
    fileMenu->addActions({openCapture, saveScan});
    fileMenu->addMenu(exportMenu);
    fileMenu->addActions({record, start, stop, exit, fullScreen});
    settingsMenu->addActions({reconnect, shareLive});
    helpMenu->addAction(help);
}
