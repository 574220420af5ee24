#include "playtest/localfile.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "playtest/uploadplan.h"

namespace LocalFile {

namespace {

#ifdef Q_OS_UNIX
QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}
#endif

} // namespace

std::unique_ptr<QFile> open(const QString &path, const QString &what, QString *problem)
{
    const QString notFound = QStringLiteral("Could not find '") + path + QStringLiteral("'");
    auto file = std::make_unique<QFile>(path);
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            *problem = notFound;
        else
            *problem = QStringLiteral("Could not read the %1 '%2':\r\n%3")
                           .arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *problem = notFound + QStringLiteral("\r\nIt is %1, not a file that can be sent.").arg(kindOf(st.st_mode));
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *problem = QStringLiteral("Could not read the %1 '%2':\r\n%3").arg(what, path, file->errorString());
        return nullptr;
    }
#else
    const QFileInfo info(path);
    if (!info.exists()) {
        *problem = notFound;
        return nullptr;
    }
    if (!info.isFile()) {
        *problem = notFound + QStringLiteral("\r\nIt is not a file that can be sent.");
        return nullptr;
    }
    if (!file->open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("Could not read the %1 '%2':\r\n%3").arg(what, path, file->errorString());
        return nullptr;
    }
#endif
    const UploadPlan plan(file->size());
    switch (plan.problem()) {
    case UploadPlan::Problem::None:
        return file;
    case UploadPlan::Problem::Empty:
        *problem = QStringLiteral("The %1 '%2' is empty; there is nothing to send to the Kavo.").arg(what, path);
        return nullptr;
    case UploadPlan::Problem::TooLarge:
        *problem = QStringLiteral("The %1 '%2' is too large (%3 bytes); the Kavo takes files of up to %4 bytes.")
                       .arg(what, path)
                       .arg(plan.length())
                       .arg(UploadPlan::LargestLength);
        return nullptr;
    }
    return nullptr;
}

} // namespace LocalFile
