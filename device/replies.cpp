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

} // namespace Replies
