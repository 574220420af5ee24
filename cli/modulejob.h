#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <memory>

#include "cli/options.h"
#include "cli/report.h"
#include "link/comports.h"
#include "settings/outputfile.h"

class KavoSession;
class Output;
class Tracer;

// What one port needs from the local side, opened and checked before any port is
// touched: the settings file's nine strings, the file to write the settings read into,
// the local file to upload.
struct PortResources {
    ComPorts::Port port;
    SettingsFile::Strings settings;         // write
    std::unique_ptr<OutputFile> output;     // read -o
    std::unique_ptr<QFile> upload;          // upload, play --upload
};

// kavoctl's work on one port, run on a thread of its own: the module found, then the
// command done on it. Its session lives on that thread.
class ModuleJob
{
public:
    // `tracer`, when given, records the port's traffic.
    ModuleJob(const Kavoctl::Invocation &invocation, PortResources resources, Output &output, Tracer *tracer = nullptr);
    ~ModuleJob();

    // On the job's thread.
    void run();
    // Any thread: ends the running operation at once (an upload still closes its card
    // file); a job not begun yet does nothing.
    void interrupt();

    const PortReport &report() const { return m_report; }

private:
    bool connectModule();
    void info();
    void read();
    void write();
    void play();
    void upload();
    void ended();
    void showProgress(const QString &cardPath);

    const Kavoctl::Invocation &m_in;
    PortResources m_resources;
    Output &m_output;
    Tracer *m_tracer;
    PortReport m_report;
    QString m_lost;
    qint64 m_length = 0;

    QMutex m_lock;                    // guards m_session and m_interrupted
    KavoSession *m_session = nullptr; // while run() runs
    bool m_interrupted = false;
};
