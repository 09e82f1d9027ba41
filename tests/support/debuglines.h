#ifndef VANTOSCOPE_TESTS_DEBUGLINES_H
#define VANTOSCOPE_TESTS_DEBUGLINES_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects the debug lines written while it lives, as "category: message"
// and as the bare message.
class DebugLines
{
public:
    DebugLines()
    {
        current = this;
        previous = qInstallMessageHandler(&DebugLines::handle);
    }
    ~DebugLines()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    DebugLines(const DebugLines &) = delete;
    DebugLines &operator=(const DebugLines &) = delete;

    QStringList lines;    // "category: message"
    QStringList messages; // the messages alone

    int count(const QString &message) const { return messages.count(message); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type != QtDebugMsg || !current)
            return;
        current->lines.append(QString::fromLatin1(context.category) + QStringLiteral(": ") +
                              message);
        current->messages.append(message);
    }
    static inline DebugLines *current = nullptr;
    QtMessageHandler previous = nullptr;
};

#endif
