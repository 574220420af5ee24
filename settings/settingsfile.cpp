#include "settings/settingsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "settings/outputfile.h"
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
    // A text editor may begin the file with a byte order mark: it is no setting.
    const QByteArray text = content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content;
    const QList<QByteArray> lines = text.split('\n');
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
            const QString shown = line.size() > 60 ? QString::fromLatin1(line.left(60)) + QStringLiteral("...")
                                                   : QString::fromLatin1(line);
            parsed.error = QStringLiteral("line %1: '%2': %3").arg(number).arg(shown, why);
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
    const auto fail = [&](const QString &why) {
        parsed.error = QStringLiteral("%1: %2").arg(path, why);
        return parsed;
    };
    // Opened once and judged by what was opened: a named pipe is not waited on, and nothing
    // can swap the file between a look and the read.
    QFile file(path);
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno == ENOENT ? QStringLiteral("no such file") : QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(st.st_mode) ? QStringLiteral("a folder, not a settings file")
                                        : QStringLiteral("not a regular file"));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(file.errorString());
    }
#else
    if (!QFileInfo(path).isFile())
        return fail(QStringLiteral("not a regular file"));
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
#endif
    return fromDevice(file, path);
}

Parsed fromDevice(QIODevice &device, const QString &name)
{
    const QByteArray content = device.read(LargestFile + 1);
    Parsed parsed;
    if (content.size() > LargestFile) {
        parsed.error = QStringLiteral("%1: too large for a settings file (over %2 bytes)").arg(name).arg(LargestFile);
        return parsed;
    }
    parsed = parse(content);
    if (!parsed.ok())
        parsed.error = QStringLiteral("%1: %2").arg(name, parsed.error);
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
    const std::unique_ptr<OutputFile> file = OutputFile::open(path, error);
    return file && file->write(format(strings), error);
}

} // namespace SettingsFile
