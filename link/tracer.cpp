#include "link/tracer.h"

#include <QMutexLocker>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <ctime>
#include <limits>

#include "link/printable.h"

Q_LOGGING_CATEGORY(kavoLink, "kavo.link", QtWarningMsg)

QString TraceEntry::direction() const
{
    return QString(QLatin1Char(directionLetter()));
}

char TraceEntry::directionLetter() const
{
    switch (kind) {
    case Kind::Sent: return 'S';
    case Kind::Received: return 'R';
    case Kind::Dropped: return 'D';
    default: return '*';
    }
}

namespace {

void appendNumber(QByteArray &out, qint64 n)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end - digits);
}

// `n` with `width` digits, leading zeros.
void appendDigits(QByteArray &out, qint64 n, int width)
{
    char digits[24];
    for (int i = width - 1; i >= 0; --i, n /= 10)
        digits[i] = char('0' + n % 10);
    out.append(digits, width);
}

} // namespace

void TraceEntry::appendText(QByteArray &out) const
{
    switch (kind) {
    case Kind::Sent:
        if (followed > 0) {
            appendPrintable(out, bytes.endsWith('\r') ? bytes.first(bytes.size() - 1) : bytes);
            out += " + ";
            appendNumber(out, followed);
            out += " bytes";
            return;
        }
        appendPrintable(out, bytes);
        return;
    case Kind::Received:
        appendPrintable(out, bytes);
        return;
    case Kind::Dropped:
        appendPrintable(out, bytes);
        out += " (";
        appendNumber(out, bytes.size());
        out += " bytes dropped)";
        return;
    case Kind::Opened:
        out += "opened at ";
        appendNumber(out, rate);
        out += " bps";
        return;
    case Kind::Closed:
        out += "closed";
        return;
    case Kind::Lost:
        // The system's word for what failed, when it gave one.
        out += "lost";
        if (!bytes.isEmpty()) {
            out += ": ";
            appendPrintable(out, bytes);
        }
        return;
    case Kind::Missed:
        appendNumber(out, followed);
        out += " entries not shown: they came faster than they could be taken";
        return;
    }
}

QString TraceEntry::text() const
{
    QByteArray out;
    appendText(out);
    return QString::fromLatin1(out);
}

void TraceEntry::appendLine(QByteArray &out) const
{
    // Lines are made for every entry a trace file or the Traffic window shows, thousands a
    // second during an upload: the time of day comes from the C library once a second per
    // thread, the rest is plain ASCII formatting.
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local char clock[16] = {};
    const qint64 second = wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000;
    if (second != cachedSecond) {
        const time_t t = time_t(second);
        tm local {};
        localtime_r(&t, &local);
        std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.", local.tm_hour, local.tm_min, local.tm_sec);
        cachedSecond = second;
    }
    out.append(clock, 9);
    appendDigits(out, wallMs - second * 1000, 3);
    const qint64 since = std::max<qint64>(sinceOpenNs, 0);
    out += " +";
    appendNumber(out, since / 1000000000);
    out += '.';
    appendDigits(out, since % 1000000000 / 1000, 6);
    out += ' ';
    if (port.isEmpty()) {
        out += '-';
    } else {
        for (const QChar c : port)
            out += c.toLatin1();
    }
    out += ' ';
    appendNumber(out, rate);
    out += ' ';
    out += directionLetter();
    out += ' ';
    appendText(out);
}

QString TraceEntry::line() const
{
    QByteArray out;
    appendLine(out);
    return QString::fromLatin1(out);
}

Tracer::Tracer(int capacity)
    : m_capacity(std::max(1, capacity))
{
}

void Tracer::record(const TraceEntry &entry)
{
    std::function<void()> notice;
    {
        const QMutexLocker locked(&m_lock);
        if (m_ring.size() < size_t(m_capacity))
            m_ring.emplace_back();
        Slot &slot = m_ring[size_t(m_recorded % quint64(m_capacity))];
        slot.kind = entry.kind;
        if (entry.bytes.size() <= InlineBytes) {
            slot.inlineSize = quint8(entry.bytes.size());
            std::memcpy(slot.inlineBytes, entry.bytes.constData(), size_t(entry.bytes.size()));
            slot.longBytes.clear();
        } else {
            // A copy of its own: the entry's bytes may be a view of someone else's.
            slot.inlineSize = 0;
            slot.longBytes = QByteArray(entry.bytes.constData(), entry.bytes.size());
        }
        slot.sinceOpenNs = entry.sinceOpenNs;
        slot.wallMs = entry.wallMs;
        if (slot.port != entry.port)
            slot.port = entry.port;
        slot.rate = entry.rate;
        slot.followed = entry.followed;
        ++m_recorded;
        if (m_fillingUp && m_recorded - m_taken == quint64(m_capacity / 2))
            notice = m_fillingUp;
    }
    if (notice)
        notice();
}

TraceEntry Tracer::entryOf(const Slot &slot)
{
    TraceEntry entry;
    entry.kind = slot.kind;
    entry.bytes = slot.inlineSize > 0 ? QByteArray(slot.inlineBytes, slot.inlineSize) : slot.longBytes;
    entry.sinceOpenNs = slot.sinceOpenNs;
    entry.wallMs = slot.wallMs;
    entry.port = slot.port;
    entry.rate = slot.rate;
    entry.followed = slot.followed;
    return entry;
}

QList<TraceEntry> Tracer::entries() const
{
    quint64 recorded = 0;
    return since(0, &recorded);
}

QList<TraceEntry> Tracer::since(quint64 seen, quint64 *recorded, quint64 *lost) const
{
    // The slots are copied a few hundred at a time, each under the lock for a moment only:
    // the recording thread never waits long for a reader.
    constexpr quint64 Chunk = 256;
    QList<TraceEntry> fresh;
    std::vector<Slot> copied;
    quint64 next = 0, end = 0;
    bool first = true;
    for (;;) {
        {
            const QMutexLocker locked(&m_lock);
            // What the reader has not seen (cleared entries it will not see), and of that
            // what the ring still keeps.
            const quint64 start = std::min(std::max(first ? seen : next, m_cleared), m_recorded);
            const quint64 ringStart = m_recorded - std::min<quint64>(m_recorded, quint64(m_ring.size()));
            const quint64 from = std::max(start, ringStart);
            if (first) {
                if (lost)
                    *lost = from - start;
                end = m_recorded;
                *recorded = end;
                m_taken = end;
                fresh.reserve(qsizetype(end - from));
                first = false;
            }
            // Entries that left the ring while the copying went on are not taken.
            const quint64 until = std::min(end, from + Chunk);
            copied.clear();
            for (quint64 n = from; n < until; ++n)
                copied.push_back(slotOf(n));
            next = until;
        }
        for (const Slot &slot : copied)
            fresh << entryOf(slot);
        if (next >= end)
            return fresh;
    }
}

quint64 Tracer::recorded() const
{
    const QMutexLocker locked(&m_lock);
    return m_recorded;
}

void Tracer::clear()
{
    const QMutexLocker locked(&m_lock);
    m_cleared = m_recorded;
}

void Tracer::setFillingUp(std::function<void()> notice)
{
    const QMutexLocker locked(&m_lock);
    m_fillingUp = std::move(notice);
}
