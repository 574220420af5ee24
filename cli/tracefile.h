#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <memory>
#include <vector>

#include "link/tracer.h"

class Output;

// Where kavoctl --trace writes the traffic of every port, a line per entry: standard error
// ("-", through the output, so that its lines stay whole), or a file opened before any
// port is touched. A regular file is written anew; a named pipe or a device is written
// where it stands; a folder is refused.
//
// Each port's session records into a tracer of its own, which costs it next to nothing; a
// thread of the file's takes what is new from every tracer a few times a second (sooner
// when one fills up), puts the lines in the order they happened and writes them in one go.
class TraceFile
{
public:
    ~TraceFile();
    TraceFile(const TraceFile &) = delete;
    TraceFile &operator=(const TraceFile &) = delete;

    // Nothing, with `error` saying why, when `path` cannot be written.
    static std::unique_ptr<TraceFile> open(const QString &path, Output &output, QString *error);

    // A tracer for one port's session, owned by the file.
    Tracer *tracerForPort();
    // Writes what is still to be written and ends the writing thread.
    void finish();
    // The first write that failed, if any.
    QString failure() const;

    // At most this long between an entry and its line; sooner once a port's tracer is half
    // full (it keeps this many entries: a small ring, soon taken, stays in the cache).
    static constexpr int FlushEveryMs = 100;
    static constexpr int PortRing = 2048;

private:
    TraceFile(Output &output) : m_output(output) {}
    void startWriter();
    void writeLines();
    // Takes what is new from every tracer and writes it; false once finished.
    void takeAndWrite();
    void writeOut(const QByteArray &bytes);

    Output &m_output;
    int m_fd = -1;            // -1: standard error, through the output
    QString m_path;
    mutable QMutex m_lock;    // guards what follows
    QWaitCondition m_wake;    // the writer: a tracer fills up, or the end
    bool m_woken = false;
    bool m_finishing = false;
    QString m_failure;
    std::vector<std::unique_ptr<Tracer>> m_tracers;
    std::vector<quint64> m_seen;   // per tracer: entries taken so far
    std::unique_ptr<QThread> m_writer;
};
