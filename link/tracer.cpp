#include "link/tracer.h"

#include <QDateTime>
#include <QMutexLocker>

#include "link/printable.h"

Q_LOGGING_CATEGORY(kavoLink, "kavo.link", QtWarningMsg)

namespace {

QString escaped(const QByteArray &bytes)
{
    return printable(bytes);
}

} // namespace

QString TraceEntry::direction() const
{
    switch (kind) {
    case Kind::Sent: return QStringLiteral("S");
    case Kind::Received: return QStringLiteral("R");
    case Kind::Dropped: return QStringLiteral("D");
    default: return QStringLiteral("*");
    }
}

QString TraceEntry::text() const
{
    switch (kind) {
    case Kind::Sent:
        if (followed > 0) {
            QByteArray command = bytes;
            if (command.endsWith('\r'))
                command.chop(1);
            return QStringLiteral("%1 + %2 bytes").arg(escaped(command)).arg(followed);
        }
        return escaped(bytes);
    case Kind::Received:
        return escaped(bytes);
    case Kind::Dropped:
        return QStringLiteral("%1 (%2 bytes dropped)").arg(escaped(bytes)).arg(bytes.size());
    case Kind::Opened:
        return QStringLiteral("opened at %1 bps").arg(rate);
    case Kind::Closed:
        return QStringLiteral("closed");
    case Kind::Lost:
        // The system's word for what failed, when it gave one.
        return bytes.isEmpty() ? QStringLiteral("lost") : QStringLiteral("lost: %1").arg(escaped(bytes));
    }
    return QString();
}

QString TraceEntry::line() const
{
    const QString wall = QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    return QStringLiteral("%1 +%2 %3 %4 %5 %6")
        .arg(wall)
        .arg(double(sinceOpenNs) / 1e9, 0, 'f', 6)
        .arg(port.isEmpty() ? QStringLiteral("-") : port)
        .arg(rate)
        .arg(direction(), text());
}

Tracer::Tracer(int capacity)
    : m_capacity(std::max(1, capacity))
{
}

void Tracer::record(TraceEntry entry)
{
    Listener listener;
    {
        const QMutexLocker locked(&m_lock);
        if (m_ring.size() >= size_t(m_capacity))
            m_ring.pop_front();
        m_ring.push_back(entry);
        ++m_recorded;
        listener = m_listener;
    }
    if (listener)
        listener(entry);
}

QList<TraceEntry> Tracer::entries() const
{
    const QMutexLocker locked(&m_lock);
    return QList<TraceEntry>(m_ring.cbegin(), m_ring.cend());
}

QList<TraceEntry> Tracer::since(quint64 seen, quint64 *recorded) const
{
    const QMutexLocker locked(&m_lock);
    *recorded = m_recorded;
    const quint64 fresh = std::min<quint64>(m_recorded - std::min(seen, m_recorded), m_ring.size());
    return QList<TraceEntry>(m_ring.cend() - qsizetype(fresh), m_ring.cend());
}

quint64 Tracer::recorded() const
{
    const QMutexLocker locked(&m_lock);
    return m_recorded;
}

void Tracer::clear()
{
    const QMutexLocker locked(&m_lock);
    m_ring.clear();
}

void Tracer::setListener(Listener listener)
{
    const QMutexLocker locked(&m_lock);
    m_listener = std::move(listener);
}
