#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

class QIODevice;

// Settings files: plain text, the nine setting strings as the window shows them
// ("ST D 2" ... "ST U 0"), one per line, in any order. Blank lines and lines starting
// with '#' are skipped. Each of the nine settings must be there exactly once, with a value
// in its range; a file with anything else is refused whole.
namespace SettingsFile {

// Setting letter -> setting string.
using Strings = QMap<char, QString>;

struct Parsed {
    Strings strings;   // all nine when ok
    QString error;     // "line 3: ..." or what else is wrong; empty when ok
    bool ok() const { return error.isEmpty(); }
};

// A byte order mark before the first line is skipped.
Parsed parse(const QByteArray &content);
// Reads and parses a file (a regular one: a pipe or a device is refused); errors name it.
Parsed load(const QString &path);
// Reads and parses what `device` gives (standard input, say); errors name it `name`.
Parsed fromDevice(QIODevice &device, const QString &name);

// The nine strings in the order they are read (D T S N H V O B U), under a heading line.
QByteArray format(const Strings &strings);
// False with `error` set (naming the file) when the file could not be written; the old
// file stays as it was. What is not a regular file is written in place (OutputFile).
bool save(const QString &path, const Strings &strings, QString *error);

// The file name filter of the file dialogs.
inline constexpr char DialogFilter[] = "Kavo settings (*.kavo)";
inline constexpr char Suffix[] = "kavo";

} // namespace SettingsFile
