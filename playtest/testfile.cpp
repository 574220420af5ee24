#include "playtest/testfile.h"

#include <QDir>

#include "app/frmserialdata.h"

namespace TestFile {

namespace {
QString &folderOverride()
{
    static QString folder;
    return folder;
}
} // namespace

QString name()
{
    return QStringLiteral("KAVOTEST.MP3");
}

QString cardPath()
{
    return QLatin1Char('/') + name();
}

QString localPath()
{
    const QString folder = folderOverride().isEmpty() ? frmSerialData::ProgramFolder() : folderOverride();
    return QDir::toNativeSeparators(folder + QLatin1Char('/') + name());
}

void setFolderForTesting(const QString &folder)
{
    folderOverride() = folder;
}

} // namespace TestFile
