#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The commands for files on the module's card, and what its answer to a look-up means.
namespace CardFile {

// The answer to "FC L /<name>": an error reply ("E" first) carries its code in its last two
// characters; anything else, the empty reply included, means the file is there.
enum class LookUp {
    Found,
    NoCard,    // code "08"
    Missing,   // code "F2"
    Error,     // any other error reply
};

LookUp lookUp(const QByteArray &reply);
// The card file's size in a look-up's answer (plain decimal digits, blanks and line ends
// around them allowed); nothing when the answer holds no such number.
std::optional<qint64> sizeOf(const QByteArray &reply);

// An error reply of a file command in words, the same for every command: "no card
// inserted (E08)", "file not found (EF2)", else "the card answered 'E42'".
QString describe(const QByteArray &errorReply);

// "FC L /KAVOTEST.MP3", "PC F /KAVOTEST.MP3", "FC O 1 W /KAVOTEST.MP3", "FC C 1".
QByteArray lookUpCommand(const QString &cardPath);
QByteArray playCommand(const QString &cardPath);
QByteArray openForWritingCommand(const QString &cardPath);
QByteArray closeCommand();

} // namespace CardFile
