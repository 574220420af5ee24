#pragma once

#include <QMutex>
#include <QString>

class Output;
struct TraceEntry;

// Where kavoctl --trace writes the traffic, a line per entry as it comes, from every port's
// thread: standard error ("-", through the output, so that its lines stay whole and in
// order with the others), or a file opened before any port is touched. A regular file is
// written anew; a named pipe or a device is written where it stands; a folder is refused.
class TraceFile
{
public:
    ~TraceFile();
    TraceFile(const TraceFile &) = delete;
    TraceFile &operator=(const TraceFile &) = delete;

    // Nothing, with `error` saying why, when `path` cannot be written.
    static std::unique_ptr<TraceFile> open(const QString &path, Output &output, QString *error);

    void write(const TraceEntry &entry);
    // The first write that failed, if any.
    QString failure() const;

private:
    TraceFile(Output &output) : m_output(output) {}

    Output &m_output;
    int m_fd = -1;            // -1: standard error, through the output
    mutable QMutex m_lock;
    QString m_path;
    QString m_failure;
};
