// kavoctl: the module's operations from the command line, for scripts and many modules.
#include <QCoreApplication>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

#include "cli/commands.h"

int main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // A reader that went away is a failed write like any other: the modules' operations
    // still end as they should (an upload closes its card file).
    ::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    // The same names as the window's: both keep the COM numbers in KavoConfig/KavoConfig.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("KavoConfig"));
    QCoreApplication::setApplicationName(QStringLiteral("KavoConfig"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KAVO_VERSION));
    return Kavoctl::run(QCoreApplication::arguments());
}
