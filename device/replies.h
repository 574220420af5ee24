#pragma once

#include <QString>
#include <optional>

// Reading the module's version and card-information replies.
namespace Replies {

// The identity code a Kavo reports in its version reply.
inline const QString IdentityCode = QStringLiteral("KAV1");

// Characters 11 to 14 of the version reply (fewer when the reply is shorter).
QString identityCode(const QString &versionReply);

struct CardInfo {
    QString status;     // the first three characters of an error reply, else empty
    QString capacity;   // before the first space
    QString freeSpace;  // everything after the first space (the whole reply without one)
};
// The reply to "FC Q" when it is not empty: an error reply ("E" + code) or
// capacity, a space, free space.
CardInfo cardInfo(const QString &reply);
// A field of the card information as a number of KiB: plain decimal digits (blanks around
// allowed), nothing for anything else.
std::optional<qint64> kibibytes(const QString &field);

} // namespace Replies
