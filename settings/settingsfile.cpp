#include "settings/settingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStringList>

#include "settings/settingtable.h"

namespace SettingsFile {

namespace {

// A file of settings is a few hundred bytes; anything far larger is not one.
constexpr qint64 LargestFile = 64 * 1024;

} // namespace

Parsed parse(const QByteArray &content)
{
    Parsed parsed;
    QMap<char, int> lineOf;
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i) + 1;
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        for (const char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
                parsed.error = QStringLiteral("line %1: holds characters that no setting string has").arg(number);
                return parsed;
            }
        }
        QString why;
        const std::optional<SettingTable::Stored> stored
            = SettingTable::parseSettingString(QString::fromLatin1(line), &why);
        if (!stored) {
            parsed.error = QStringLiteral("line %1: '%2': %3").arg(number).arg(QString::fromLatin1(line.left(60)), why);
            return parsed;
        }
        if (lineOf.contains(stored->letter)) {
            parsed.error = QStringLiteral("line %1: %2 is set again (first on line %3)")
                               .arg(number)
                               .arg(SettingTable::nameOf(stored->letter))
                               .arg(lineOf.value(stored->letter));
            return parsed;
        }
        lineOf.insert(stored->letter, number);
        parsed.strings.insert(stored->letter, stored->settingString());
    }
    QStringList missing;
    for (const SettingTable::Setting &s : SettingTable::all())
        if (!parsed.strings.contains(s.letter))
            missing << QStringLiteral("%1 ('%2')").arg(QString::fromLatin1(s.name), QString(QLatin1Char(s.letter)));
    if (!missing.isEmpty()) {
        parsed.error = QStringLiteral("no value for %1").arg(missing.join(QStringLiteral(", ")));
        parsed.strings.clear();
    }
    return parsed;
}

Parsed load(const QString &path)
{
    Parsed parsed;
    const QFileInfo info(path);
    if (!info.exists()) {
        parsed.error = QStringLiteral("%1: no such file").arg(path);
        return parsed;
    }
    if (!info.isFile()) {
        parsed.error = QStringLiteral("%1: not a regular file").arg(path);
        return parsed;
    }
    if (info.size() > LargestFile) {
        parsed.error = QStringLiteral("%1: too large for a settings file (%2 bytes)").arg(path).arg(info.size());
        return parsed;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        parsed.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return parsed;
    }
    parsed = parse(file.read(LargestFile + 1));
    if (!parsed.ok())
        parsed.error = QStringLiteral("%1: %2").arg(path, parsed.error);
    return parsed;
}

QByteArray format(const Strings &strings)
{
    QByteArray out = QByteArrayLiteral("# Kavo settings\n");
    for (const SettingTable::Setting &s : SettingTable::all())
        if (strings.contains(s.letter))
            out += strings.value(s.letter).toLatin1() + '\n';
    return out;
}

bool save(const QString &path, const Strings &strings, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(format(strings)) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace SettingsFile
