#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include "link/comports.h"

namespace TestEnv {

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
