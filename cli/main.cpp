// kavoctl: the module's operations from the command line, for scripts and many modules.
#include <QCoreApplication>

#include "cli/commands.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The same names as the window's: both keep the COM numbers in KavoConfig/KavoConfig.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("KavoConfig"));
    QCoreApplication::setApplicationName(QStringLiteral("KavoConfig"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KAVO_VERSION));
    return Kavoctl::run(QCoreApplication::arguments());
}
