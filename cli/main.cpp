// kavoctl: the module's operations from the command line, for scripts and many modules.
#include <QCoreApplication>

#include "cli/commands.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kavoctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
    return Kavoctl::run(QCoreApplication::arguments());
}
