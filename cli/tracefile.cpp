#include "cli/tracefile.h"

#include <QFile>
#include <QMutexLocker>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/output.h"
#include "link/tracer.h"

TraceFile::~TraceFile()
{
#ifdef Q_OS_UNIX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

std::unique_ptr<TraceFile> TraceFile::open(const QString &path, Output &output, QString *error)
{
    std::unique_ptr<TraceFile> file(new TraceFile(output));
    file->m_path = path;
    if (path.isEmpty()) {
        *error = QStringLiteral("--trace needs a file name ('-' for standard error)");
        return nullptr;
    }
    if (path == QLatin1String("-") || path == QLatin1String("/dev/stderr"))
        return file;
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    const bool exists = ::stat(name.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        *error = QStringLiteral("--trace %1: a folder").arg(path);
        return nullptr;
    }
    // A regular file is written anew; anything else where it stands, never truncated.
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY
                      | (!exists || S_ISREG(st.st_mode) ? O_CREAT | O_TRUNC : O_NONBLOCK);
    const int fd = ::open(name.constData(), flags, 0644);
    if (fd < 0) {
        *error = errno == ENXIO ? QStringLiteral("--trace %1: a named pipe that no program reads from").arg(path)
                                : QStringLiteral("--trace %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file->m_fd = fd;
#else
    *error = QStringLiteral("--trace to a file needs a UNIX system here; use '-'");
    return nullptr;
#endif
    return file;
}

void TraceFile::write(const TraceEntry &entry)
{
    if (m_fd < 0) {
        m_output.errorLine(entry.line());
        return;
    }
#ifdef Q_OS_UNIX
    const QByteArray bytes = entry.line().toUtf8() + '\n';
    const QMutexLocker locked(&m_lock);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (m_failure.isEmpty())
                m_failure = QStringLiteral("cannot write the trace to %1: %2")
                                .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
    }
#endif
}

QString TraceFile::failure() const
{
    const QMutexLocker locked(&m_lock);
    return m_failure;
}
