#ifndef VANTOSCOPE_TOOLMAIN_H
#define VANTOSCOPE_TOOLMAIN_H

#include <QByteArray>
#include <QString>
#include <vector>

// What the command-line tools share. There is one program per edition: the
// full edition's carries the base name, the earlier edition's the suffix
// -classic. Messages go to stderr as one line that starts with the
// program's name, and --edition runs the other edition's program, installed
// next to this one, with the same arguments.
class ToolMain
{
public:
    // `role` is what messages call the program ("decoder", "check").
    ToolMain(const char *baseName, const char *role, int usageStatus, int startStatus);

    // This edition's program name.
    const char *name() const { return programName.constData(); }

    [[noreturn]] void fail(int status, const QString &message) const;
    // Exits with the usage status, pointing at --help.
    [[noreturn]] void usageError(const QString &message) const;
    void warn(const QString &message) const;

    // Checks the value of --edition; when it names the other edition, runs
    // that edition's program with `argv` (null-terminated), whose exit
    // status becomes ours. Returns when it names this edition.
    void dispatchEdition(const QString &edition, std::vector<char *> &argv) const;

private:
    QByteArray base;
    QByteArray programName;
    const char *role;
    int usageStatus;
    int startStatus;
};

#endif
