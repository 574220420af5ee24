#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "link/comports.h"

namespace TestEnv {

// The names the programs' main() sets, so that a QSettings made without them in a test
// reads and writes the programs' per-user file (KavoConfig/KavoConfig.conf).
static void nameTheApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("KavoConfig"));
    QCoreApplication::setApplicationName(QStringLiteral("KavoConfig"));
}
Q_COREAPP_STARTUP_FUNCTION(nameTheApplication)

static QTemporaryDir *folder()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kavotest-XXXXXX"));
    return &dir;
}

static QString configPath()
{
    return folder()->filePath(QStringLiteral("config"));
}

void isolate()
{
    QTemporaryDir *dir = folder();
    QFile::setPermissions(dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", dir->path().toLocal8Bit());
    QDir().mkpath(configPath());
    qputenv("XDG_CONFIG_HOME", configPath().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configPath());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configPath());
    ComPorts::ensurePortsFolder();
    ComPorts::setSystemPortsSource([] { return QList<ComPorts::SystemPort>(); });
}

QString runtimeFolder()
{
    return folder()->path();
}

QString configFolder()
{
    return configPath();
}

} // namespace TestEnv
