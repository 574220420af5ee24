#include "cli/output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

int descriptorOf(int stream)
{
    return stream == 0 ? 1 : 2;
}

// JSON escapes the C0 controls itself; the C1 ones (U+0080 to U+009F) act as controls on
// some terminals too.
QByteArray safeJson(const QJsonObject &object)
{
    const QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x7f && c.unicode() <= 0x9f)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out.toUtf8() + '\n';
}

} // namespace

Output::Output(bool json, bool settingsOnStdout)
    : m_json(json)
    , m_text(settingsOnStdout ? Err : Out)
{
#ifdef Q_OS_UNIX
    m_outTerminal = ::isatty(1);
    m_errTerminal = ::isatty(2);
#endif
}

QString Output::safe(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == 0x1b)
            out += QStringLiteral("\\e");
        else if (u == '\r')
            out += QStringLiteral("\\r");
        else if (u == '\n')
            out += QStringLiteral("\\n");
        else if (u == '\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString Output::oneLine(const QString &message)
{
    QString line = message;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

bool Output::writeRaw(Stream stream, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return true;
#ifdef Q_OS_UNIX
    const int fd = descriptorOf(stream);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("cannot write to %1: %2")
                            .arg(stream == Out ? QStringLiteral("standard output") : QStringLiteral("standard error"),
                                 n < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("nothing written"));
        return false;
    }
    return true;
#else
    FILE *file = stream == Out ? stdout : stderr;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size())
                    && std::fflush(file) == 0;
    if (!ok && m_failure.isEmpty())
        m_failure = QStringLiteral("cannot write to %1").arg(stream == Out ? QStringLiteral("standard output")
                                                                          : QStringLiteral("standard error"));
    return ok;
#endif
}

void Output::clearBoard()
{
    if (m_boardLines == 0)
        return;
    // Up to the board's first line, then away with it and everything below.
    writeRaw(Err, QByteArray("\r\x1b[") + QByteArray::number(m_boardLines) + "A\x1b[J");
    m_boardLines = 0;
}

void Output::drawBoard()
{
    if (!m_errTerminal || m_boardOrder.isEmpty())
        return;
    QByteArray bytes;
    for (const QString &port : std::as_const(m_boardOrder))
        bytes += safe(m_progress.value(port).line).toLocal8Bit() + "\x1b[K\n";
    writeRaw(Err, bytes);
    m_boardLines = int(m_boardOrder.size());
    m_drawn.start();
}

void Output::emitLines(Stream stream, const QByteArray &bytes)
{
    // The progress board stands below everything else on the terminal: out of the way for
    // a line on it, and back under it.
    const bool onTerminal = stream == Err ? m_errTerminal : m_outTerminal;
    const bool board = m_boardLines > 0 && onTerminal;
    if (board)
        clearBoard();
    writeRaw(stream, bytes);
    if (board)
        drawBoard();
}

void Output::portDone(const PortReport &report)
{
    const QMutexLocker locked(&m_lock);
    QByteArray errors;
    for (const QString &error : report.errors)
        errors += QStringLiteral("kavoctl: %1: %2\n").arg(report.port, safe(oneLine(error))).toLocal8Bit();
    emitLines(Err, errors);
    if (m_json) {
        QJsonObject object = report.json;
        object.insert(QStringLiteral("port"), report.port);
        object.insert(QStringLiteral("ok"), report.ok());
        object.insert(QStringLiteral("status"), report.statusWord());
        if (!report.ok()) {
            object.insert(QStringLiteral("failure"), report.failure);
            QJsonArray list;
            for (const QString &error : report.errors)
                list.append(oneLine(error));
            object.insert(QStringLiteral("errors"), list);
        }
        emitLines(Out, safeJson(object));
        return;
    }
    QByteArray text;
    for (const QString &line : report.details)
        text += QStringLiteral("%1: %2\n").arg(report.port, safe(line)).toLocal8Bit();
    emitLines(m_text, text);
    if (!report.settingsFile.isEmpty())
        emitLines(Out, report.settingsFile);
}

void Output::note(const QString &text)
{
    const QMutexLocker locked(&m_lock);
    emitLines(Err, QStringLiteral("kavoctl: %1\n").arg(safe(oneLine(text))).toLocal8Bit());
}

void Output::line(const QString &text)
{
    const QMutexLocker locked(&m_lock);
    emitLines(m_text, safe(text).toLocal8Bit() + '\n');
}

void Output::errorLine(const QString &text)
{
    const QMutexLocker locked(&m_lock);
    emitLines(Err, safe(text).toLocal8Bit() + '\n');
}

void Output::object(const QJsonObject &object)
{
    const QMutexLocker locked(&m_lock);
    emitLines(Out, safeJson(object));
}

void Output::status(const QString &port, const QString &text)
{
    const QMutexLocker locked(&m_lock);
    emitLines(Err, QStringLiteral("%1: %2\n").arg(port, safe(oneLine(text))).toLocal8Bit());
}

void Output::progress(const QString &port, const QString &what, qint64 done, qint64 total)
{
    const QMutexLocker locked(&m_lock);
    const int percent = total > 0 ? int(done * 100 / total) : 100;
    Progress &p = m_progress[port];
    if (!m_boardOrder.contains(port))
        m_boardOrder << port;
    if (m_errTerminal) {
        const int width = 20;
        const int filled = percent * width / 100;
        p.line = QStringLiteral("%1: %2 [%3%4] %5% (%6 of %7 bytes)")
                     .arg(port, what, QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
                     .arg(percent)
                     .arg(done)
                     .arg(total);
        // At most ten redraws a second, but always the end.
        if (m_drawn.isValid() && m_drawn.elapsed() < 100 && done < total)
            return;
        clearBoard();
        drawBoard();
        return;
    }
    const int quarter = percent / 25;
    if (quarter == p.quarter)
        return;
    p.quarter = quarter;
    emitLines(Err, QStringLiteral("%1: %2 %3% (%4 of %5 bytes)\n").arg(port, what).arg(percent).arg(done).arg(total).toLocal8Bit());
}

void Output::progressEnded(const QString &port)
{
    const QMutexLocker locked(&m_lock);
    if (!m_progress.contains(port))
        return;
    clearBoard();
    m_progress.remove(port);
    m_boardOrder.removeAll(port);
    drawBoard();
}

void Output::summary(const QList<PortReport> &reports)
{
    const QMutexLocker locked(&m_lock);
    if (m_json)
        return;
    QByteArray text;
    for (const PortReport &r : reports)
        text += (r.status == PortReport::Status::Failed ? QStringLiteral("%1: failed: %2\n").arg(r.port, safe(r.failure))
                                                        : QStringLiteral("%1: %2\n").arg(r.port, r.statusWord()))
                    .toLocal8Bit();
    emitLines(m_text, text);
}

bool Output::failed() const
{
    const QMutexLocker locked(&m_lock);
    return !m_failure.isEmpty();
}

QString Output::failure() const
{
    const QMutexLocker locked(&m_lock);
    return m_failure;
}
