#include "playtest/uploadplan.h"

#include <charconv>
#include <cstring>

UploadPlan::Problem UploadPlan::problem() const
{
    if (m_length <= 0)
        return Problem::Empty;
    if (m_length > LargestLength)
        return Problem::TooLarge;
    return Problem::None;
}

qint64 UploadPlan::pieceCount() const
{
    if (problem() != Problem::None)
        return 0;
    return (m_length + PieceSize - 1) / PieceSize;
}

int UploadPlan::pieceSize(qint64 index) const
{
    const qint64 count = pieceCount();
    if (index < 0 || index >= count)
        return 0;
    if (index < count - 1)
        return PieceSize;
    return int(m_length - (count - 1) * PieceSize);
}

int UploadPlan::progressAfter(qint64 index) const
{
    const qint64 count = pieceCount();
    if (count == 0 || index < 0)
        return 0;
    // Only full pieces before the last one count.
    const qint64 full = qMin(index + 1, count - 1);
    return int(full * PieceSize);
}

QByteArray UploadPlan::writeCommand(int count)
{
    char line[WriteCommandRoom];
    return QByteArray(line, writeCommand(count, line));
}

int UploadPlan::writeCommand(int count, char *out)
{
    static constexpr char Head[] = "FC W 1 ";
    std::memcpy(out, Head, sizeof Head - 1);
    char *end = std::to_chars(out + sizeof Head - 1, out + WriteCommandRoom - 1, count).ptr;
    *end++ = '\r';
    return int(end - out);
}
