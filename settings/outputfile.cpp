#include "settings/outputfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The standard stream a path names ("/dev/stdout", "/dev/fd/1", "/proc/self/fd/2"): its
// descriptor, or -1.
int standardStreamOf(const QString &path)
{
    static const struct {
        const char *path;
        int fd;
    } names[] = {{"/dev/stdout", 1}, {"/dev/stderr", 2}, {"/dev/fd/1", 1}, {"/dev/fd/2", 2},
                 {"/proc/self/fd/1", 1}, {"/proc/self/fd/2", 2}};
    for (const auto &name : names)
        if (path == QLatin1String(name.path))
            return name.fd;
    return -1;
}

bool writeAll(int fd, const QByteArray &bytes, QString *error)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            *error = n < 0 ? systemError() : QStringLiteral("nothing could be written");
            return false;
        }
    }
    return true;
}
#endif

} // namespace

OutputFile::~OutputFile()
{
#ifdef Q_OS_UNIX
    if (m_ownsFd && m_fd >= 0)
        ::close(m_fd);
#endif
}

std::unique_ptr<OutputFile> OutputFile::open(const QString &path, QString *error)
{
    std::unique_ptr<OutputFile> out(new OutputFile);
    out->m_path = path;
    if (path.isEmpty()) {
        *error = QStringLiteral("no file name given");
        return nullptr;
    }
#ifdef Q_OS_UNIX
    if (path == QLatin1String("-")) {
        out->m_fd = 1;
        return out;
    }
    if (const int fd = standardStreamOf(path); fd >= 0) {
        out->m_fd = fd;
        return out;
    }
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            *error = QStringLiteral("%1 is a folder").arg(path);
            return nullptr;
        }
        if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
            *error = QStringLiteral("%1 is %2, not a file to write to")
                         .arg(path, S_ISSOCK(st.st_mode) ? QStringLiteral("a socket") : QStringLiteral("a disk device"));
            return nullptr;
        }
        // Written where it stands: a pipe only when a program reads from it already (it
        // would wait for one otherwise), a device as it takes bytes.
        const int fd = ::open(name.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *error = errno == ENXIO ? QStringLiteral("%1 is a named pipe that no program reads from").arg(path)
                                    : QStringLiteral("%1: %2").arg(path, systemError());
            return nullptr;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        out->m_fd = fd;
        out->m_ownsFd = true;
        return out;
    }
#endif
    // A regular file or a new one: written beside it and put in its place at once. The
    // folder must take it: found out now, before anything else is done.
    out->m_save = std::make_unique<QSaveFile>(path);
    if (!out->m_save->open(QIODevice::WriteOnly)) {
        const QFileInfo folder(QFileInfo(path).absolutePath());
        *error = !folder.exists() ? QStringLiteral("%1: the folder %2 does not exist").arg(path, folder.filePath())
                                  : QStringLiteral("%1: %2").arg(path, out->m_save->errorString());
        return nullptr;
    }
    return out;
}

bool OutputFile::write(const QByteArray &content, QString *error)
{
    if (m_save) {
        if (m_save->write(content) != content.size() || !m_save->commit()) {
            *error = QStringLiteral("%1: %2").arg(m_path, m_save->errorString());
            return false;
        }
        return true;
    }
#ifdef Q_OS_UNIX
    if (m_fd >= 0) {
        QString why;
        if (!writeAll(m_fd, content, &why)) {
            *error = QStringLiteral("%1: %2").arg(m_fd == 1 ? QStringLiteral("standard output") : m_path, why);
            return false;
        }
        return true;
    }
#endif
    *error = QStringLiteral("%1: not open").arg(m_path);
    return false;
}
