#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "link/comports.h"

namespace TestEnv {

static QTemporaryDir *folder()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kavotest-XXXXXX"));
    return &dir;
}

void isolate()
{
    QTemporaryDir *dir = folder();
    QFile::setPermissions(dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", dir->path().toLocal8Bit());
    ComPorts::setSystemPortsSource([] { return QStringList(); });
}

QString runtimeFolder()
{
    return folder()->path();
}

} // namespace TestEnv
