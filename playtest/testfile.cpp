#include "playtest/testfile.h"

#include <QCoreApplication>
#include <QDir>

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

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString localPath()
{
    const QString folder = folderOverride().isEmpty() ? programFolder() : folderOverride();
    return QDir::toNativeSeparators(folder + QLatin1Char('/') + name());
}

void setFolderForTesting(const QString &folder)
{
    folderOverride() = folder;
}

} // namespace TestFile
