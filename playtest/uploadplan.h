#pragma once

#include <QByteArray>
#include <QtGlobal>

// How the test file goes to the card: pieces of 512 bytes, each announced by
// "FC W 1 <count>" and answered before the next; the last piece carries the rest
// (1 to 512 bytes). The byte count on the wire and the progress bar are 32-bit, so a
// file must hold 1 to 2147483647 bytes.
class UploadPlan
{
public:
    static constexpr int PieceSize = 512;
    static constexpr qint64 LargestLength = 2147483647;

    enum class Problem { None, Empty, TooLarge };

    explicit UploadPlan(qint64 length) : m_length(length) {}

    qint64 length() const { return m_length; }
    Problem problem() const;

    // Number of pieces; 0 when the length has a problem.
    qint64 pieceCount() const;
    // Bytes in piece `index` (0-based); 0 outside the plan.
    int pieceSize(qint64 index) const;
    bool isLast(qint64 index) const { return index == pieceCount() - 1; }
    // The progress bar's value once piece `index` has been written: the bytes sent in
    // full pieces so far. The last piece does not move the bar (it is hidden right after).
    int progressAfter(qint64 index) const;

    // "FC W 1 <count>" and the carriage return; the data follows it at once.
    static QByteArray writeCommand(int count);
    // The same into `out`, which has room for WriteCommandRoom bytes; returns its length.
    static constexpr int WriteCommandRoom = 24;
    static int writeCommand(int count, char *out);

private:
    qint64 m_length;
};
