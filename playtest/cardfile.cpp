#include "playtest/cardfile.h"

#include <QString>

#include "settings/settingtable.h"

namespace CardFile {

LookUp lookUp(const QByteArray &reply)
{
    if (!reply.startsWith('E'))
        return LookUp::Found;
    // The code is the reply's last two characters, whatever stands before them. A reply
    // too short to hold a code is just another error.
    const QByteArray code = reply.size() >= 3 ? reply.right(2) : QByteArray();
    if (code == "08")
        return LookUp::NoCard;
    if (code == "F2")
        return LookUp::Missing;
    return LookUp::Error;
}

QString describe(const QByteArray &errorReply)
{
    const QString shown = SettingTable::printable(errorReply, 40);
    switch (lookUp(errorReply)) {
    case LookUp::NoCard:
        return QStringLiteral("no card inserted (%1)").arg(shown);
    case LookUp::Missing:
        return QStringLiteral("file not found (%1)").arg(shown);
    default:
        return QStringLiteral("the card answered '%1'").arg(shown);
    }
}

std::optional<qint64> sizeOf(const QByteArray &reply)
{
    const QByteArray digits = reply.trimmed();
    if (digits.isEmpty() || digits.size() > 18)
        return std::nullopt;
    for (const char c : digits)
        if (c < '0' || c > '9')
            return std::nullopt;
    return digits.toLongLong();
}

QByteArray lookUpCommand(const QString &cardPath)
{
    return QByteArrayLiteral("FC L ") + cardPath.toLatin1();
}

QByteArray playCommand(const QString &cardPath)
{
    return QByteArrayLiteral("PC F ") + cardPath.toLatin1();
}

QByteArray openForWritingCommand(const QString &cardPath)
{
    return QByteArrayLiteral("FC O 1 W ") + cardPath.toLatin1();
}

QByteArray closeCommand()
{
    return QByteArrayLiteral("FC C 1");
}

} // namespace CardFile
