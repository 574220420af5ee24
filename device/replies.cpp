#include "device/replies.h"

namespace Replies {

QString identityCode(const QString &versionReply)
{
    return versionReply.mid(10, 4);
}

CardInfo cardInfo(const QString &reply)
{
    CardInfo info;
    if (reply.startsWith(QLatin1Char('E'))) {
        info.status = reply.left(3);
        return info;
    }
    const qsizetype space = reply.indexOf(QLatin1Char(' '));
    if (space < 0) {
        info.freeSpace = reply;
    } else {
        info.capacity = reply.left(space);
        info.freeSpace = reply.mid(space + 1);
    }
    return info;
}

std::optional<qint64> kibibytes(const QString &field)
{
    const QString digits = field.trimmed();
    if (digits.isEmpty() || digits.size() > 15)
        return std::nullopt;
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    return digits.toLongLong();
}

} // namespace Replies
