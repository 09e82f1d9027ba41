#include "toolmain.h"

#include "editions/edition.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

QByteArray programFor(const QByteArray &base, const char *edition)
{
    return std::strcmp(edition, "full") == 0 ? base : base + '-' + edition;
}

} // namespace

ToolMain::ToolMain(const char *baseName, const char *role, int usageStatus, int startStatus)
    : base(baseName), programName(programFor(base, Edition::name)), role(role),
      usageStatus(usageStatus), startStatus(startStatus)
{
}

void ToolMain::fail(int status, const QString &message) const
{
    std::fflush(stdout);
    warn(message);
    std::exit(status);
}

void ToolMain::usageError(const QString &message) const
{
    fail(usageStatus, message + QStringLiteral(" (see --help)"));
}

void ToolMain::warn(const QString &message) const
{
    std::fprintf(stderr, "%s: %s\n", name(), qPrintable(message));
}

void ToolMain::dispatchEdition(const QString &edition, std::vector<char *> &argv) const
{
    if (edition != QLatin1String("full") && edition != QLatin1String("classic"))
        usageError(QStringLiteral("--edition takes full or classic, not '%1'").arg(edition));
    if (edition == QLatin1String(Edition::name))
        return;
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                         QString::fromLatin1(programFor(base, qPrintable(edition)));
    const QByteArray file = QFile::encodeName(path);
    std::fflush(stdout);
    ::execv(file.constData(), argv.data());
    fail(startStatus, QStringLiteral("cannot start the %1 edition's %2 %3: %4")
                          .arg(edition, QLatin1String(role), path,
                               QString::fromLocal8Bit(std::strerror(errno))));
}
