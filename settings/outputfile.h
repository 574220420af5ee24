#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QSaveFile;

// Where a program writes a file the user named, opened before anything else is done and
// written once. A regular file (or a new one) is replaced whole, atomically: until commit()
// the old one stays as it was. Anything else is written in place, never truncated or
// replaced: a named pipe (a program must read from it already), a character device, the
// program's own standard output ("-", /dev/stdout, /dev/fd/1); a folder, a socket or a
// disk is refused.
class OutputFile
{
public:
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Nothing, with `error` saying why, when `path` cannot be written as above.
    static std::unique_ptr<OutputFile> open(const QString &path, QString *error);

    const QString &path() const { return m_path; }
    // Standard output itself: the caller may print there as it prints elsewhere.
    bool isStandardOutput() const { return m_fd == 1; }

    // The whole content, once; false with `error` set when it could not be written. A
    // regular file is in its place only once this returned true.
    bool write(const QByteArray &content, QString *error);

private:
    OutputFile() = default;

    QString m_path;
    std::unique_ptr<QSaveFile> m_save;   // a regular file, replaced
    int m_fd = -1;                       // written in place
    bool m_ownsFd = false;
};
