#ifndef VANTOSCOPE_TEST_MODALCATCHER_H
#define VANTOSCOPE_TEST_MODALCATCHER_H

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Closes every message box that becomes the active modal widget while it
// lives, and remembers the title and text of each, so tests can drive code
// that shows modal boxes without hanging.
class ModalCatcher : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };

    explicit ModalCatcher(QObject *parent = nullptr) : QObject(parent)
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            boxes.append({box->windowTitle(), box->text(), box->icon()});
            box->done(QMessageBox::Ok);
        });
        timer.start();
    }

    QList<Box> boxes;

private:
    QTimer timer;
};

#endif
