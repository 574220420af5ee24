#include "cli/tracefile.h"

#include <QFile>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/output.h"

TraceFile::~TraceFile()
{
    finish();
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
    if (path == QLatin1String("-") || path == QLatin1String("/dev/stderr")) {
        file->startWriter();
        return file;
    }
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
    file->startWriter();
#else
    *error = QStringLiteral("--trace to a file needs a UNIX system here; use '-'");
    return nullptr;
#endif
    return file;
}

Tracer *TraceFile::tracerForPort()
{
    const QMutexLocker locked(&m_lock);
    m_tracers.push_back(std::make_unique<Tracer>(PortRing));
    m_seen.push_back(0);
    Tracer *tracer = m_tracers.back().get();
    tracer->setFillingUp([this] {
        const QMutexLocker locked(&m_lock);
        m_woken = true;
        m_wake.wakeOne();
    });
    return tracer;
}

void TraceFile::startWriter()
{
    m_writer.reset(QThread::create([this] { writeLines(); }));
    m_writer->start();
}

void TraceFile::finish()
{
    {
        const QMutexLocker locked(&m_lock);
        if (m_finishing)
            return;
        m_finishing = true;
        m_wake.wakeOne();
    }
    if (m_writer)
        m_writer->wait();
}

void TraceFile::writeLines()
{
    for (;;) {
        bool last = false;
        {
            QMutexLocker locked(&m_lock);
            if (!m_finishing && !m_woken)
                m_wake.wait(&m_lock, FlushEveryMs);
            m_woken = false;
            last = m_finishing;
        }
        // After the end was asked for, the ports have finished: this takes the last.
        takeAndWrite();
        if (last)
            return;
    }
}

void TraceFile::takeAndWrite()
{
    struct Fresh {
        TraceEntry entry;
        size_t port;
    };
    std::vector<Fresh> fresh;
    QByteArray bytes;
    {
        const QMutexLocker locked(&m_lock);
        for (size_t i = 0; i < m_tracers.size(); ++i) {
            quint64 lost = 0;
            const QList<TraceEntry> entries = m_tracers[i]->since(m_seen[i], &m_seen[i], &lost);
            if (lost > 0 && !entries.isEmpty()) {
                // The port recorded faster than this thread could take: say so, in the
                // form of a line of the port's.
                TraceEntry gap = entries.first();
                gap.kind = TraceEntry::Kind::Missed;
                gap.bytes.clear();
                gap.followed = qint64(lost);
                gap.appendLine(bytes);
                bytes += '\n';
            }
            for (const TraceEntry &entry : entries)
                fresh.push_back({entry, i});
        }
    }
    // The ports' lines in the order they happened.
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const Fresh &a, const Fresh &b) { return a.entry.wallMs < b.entry.wallMs; });
    bytes.reserve(bytes.size() + qsizetype(fresh.size()) * 64);
    for (const Fresh &f : fresh) {
        f.entry.appendLine(bytes);
        bytes += '\n';
    }
    writeOut(bytes);
}

void TraceFile::writeOut(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_fd < 0) {
        for (const QByteArray &line : bytes.split('\n'))
            if (!line.isEmpty())
                m_output.errorLine(QString::fromLatin1(line));
        return;
    }
#ifdef Q_OS_UNIX
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            const QMutexLocker locked(&m_lock);
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
