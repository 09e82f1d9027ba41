#include "mainwindowform.h"

#include "recordicon.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QStatusBar>
#include <QStyle>

namespace {

QAction *makeAction(QMainWindow *window, const char *name, const char *iconPath)
{
    auto *action = new QAction(window);
    action->setObjectName(QString::fromLatin1(name));
    if (iconPath) {
        QIcon icon;
        icon.addFile(QString::fromLatin1(iconPath), QSize(), QIcon::Normal, QIcon::Off);
        action->setIcon(icon);
    }
    return action;
}

} // namespace

void MainWindowForm::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(400, 300);

    actionStart = makeAction(window, "actionStart", ":/icons/start.png");
    actionStop = makeAction(window, "actionStop", ":/icons/stop.png");
    actionExit = makeAction(window, "actionExit", nullptr);
    actionFullScreen = makeAction(window, "actionFullScreen", ":/icons/fullscreen1.png");
    actionHelp = makeAction(window, "actionHelp", ":/icons/help.png");
    actionSaveScan = makeAction(window, "actionSaveScan", nullptr);
    actionSaveScan->setIcon(window->style()->standardIcon(QStyle::SP_DialogSaveButton));
    actionRecord = makeAction(window, "actionRecord", nullptr);
    actionRecord->setIcon(recordIcon());
    actionRecord->setCheckable(true);
    actionOpenCapture = makeAction(window, "actionOpenCapture", nullptr);
    actionOpenCapture->setIcon(window->style()->standardIcon(QStyle::SP_DialogOpenButton));

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setGeometry(QRect(0, 0, 400, 23));
    menu = new QMenu(menuBar);
    menu->setObjectName(QStringLiteral("menu"));
    menu_File = new QMenu(menuBar);
    menu_File->setObjectName(QStringLiteral("menu_File"));
    menu_Help = new QMenu(menuBar);
    menu_Help->setObjectName(QStringLiteral("menu_Help"));
    window->setMenuBar(menuBar);

    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);

    menuBar->addAction(menu_File->menuAction());
    menuBar->addAction(menu->menuAction());
    menuBar->addAction(menu_Help->menuAction());
    menu_File->addAction(actionOpenCapture);
    menu_File->addAction(actionSaveScan);
    menu_File->addAction(actionRecord);
    menu_File->addAction(actionStart);
    menu_File->addAction(actionStop);
    menu_File->addAction(actionExit);
    menu_File->addAction(actionFullScreen);
    menu_Help->addAction(actionHelp);

    retranslateUi(window);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::retranslateUi(QMainWindow *window)
{
    window->setWindowTitle(QString());
    actionStart->setText(QApplication::translate("MainWindow", "Start"));
    actionStop->setText(QApplication::translate("MainWindow", "Stop"));
    actionExit->setText(QApplication::translate("MainWindow", "Exit"));
    actionExit->setShortcut(QKeySequence(QApplication::translate("MainWindow", "Ctrl+Q")));
    actionFullScreen->setText(QApplication::translate("MainWindow", "Full Screen"));
    actionHelp->setText(QApplication::translate("MainWindow", "Help"));
    actionSaveScan->setText(QApplication::translate("MainWindow", "Save scan…"));
    actionSaveScan->setShortcut(QKeySequence(QApplication::translate("MainWindow", "Ctrl+S")));
    actionRecord->setText(QApplication::translate("MainWindow", "Record"));
    actionOpenCapture->setText(QApplication::translate("MainWindow", "Open capture…"));
    actionOpenCapture->setShortcut(QKeySequence(QApplication::translate("MainWindow", "Ctrl+O")));
    menu->setTitle(QApplication::translate("MainWindow", "&Settings"));
    menu_File->setTitle(QApplication::translate("MainWindow", "&File"));
    menu_Help->setTitle(QApplication::translate("MainWindow", "&Help"));
}
