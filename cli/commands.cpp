#include "cli/commands.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QThread>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "cli/interrupt.h"
#include "cli/modulejob.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/tracefile.h"
#include "link/tracer.h"
#include "link/portlisting.h"
#include "playtest/localfile.h"
#include "playtest/testfile.h"

namespace Kavoctl {

namespace {

// Everything printed before any output object exists (help, usage errors), checked too.
int printAndExit(const Parsed &parsed)
{
    bool ok = true;
#ifdef Q_OS_UNIX
    for (const auto &[fd, text] : {std::pair{1, parsed.out}, std::pair{2, parsed.err}}) {
        const QByteArray bytes = text.toLocal8Bit();
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0) {
                ok = false;
                break;
            }
            done += n;
        }
    }
#endif
    return ok || parsed.exit != Success ? parsed.exit : ModuleFailed;
}

int listPorts(const Invocation &in)
{
    Output output(in.json, false);
    const PortListing::Listing listing = PortListing::list();
    if (!listing.folderMessage.isEmpty())
        output.note(listing.folderMessage);
    for (const PortListing::Entry &entry : listing.entries) {
        if (in.json) {
            QJsonObject object;
            object.insert(QStringLiteral("port"), entry.name());
            object.insert(QStringLiteral("device"), entry.port.device);
            object.insert(QStringLiteral("usable"), entry.usable);
            if (!entry.usable)
                object.insert(QStringLiteral("problem"), entry.problem);
            output.object(object);
        } else {
            output.line(QStringLiteral("%1 %2 %3").arg(entry.name(), entry.port.device,
                                                       entry.usable ? QStringLiteral("available")
                                                                    : QStringLiteral("not available: ")
                                                                          + Output::oneLine(entry.problem)));
        }
    }
    if (output.failed()) {
        output.note(output.failure());
        return ModuleFailed;
    }
    return Success;
}

// The settings file to write: standard input ("-"), or a file read once.
bool loadSettings(const QString &path, SettingsFile::Strings *settings, QString *problem)
{
    SettingsFile::Parsed parsed;
    if (path == QLatin1String("-")) {
        QFile input;
        if (!input.open(stdin, QIODevice::ReadOnly)) {
            *problem = QStringLiteral("standard input: %1").arg(input.errorString());
            return false;
        }
        parsed = SettingsFile::fromDevice(input, QStringLiteral("standard input"));
    } else {
        parsed = SettingsFile::load(path);
    }
    if (!parsed.ok()) {
        *problem = parsed.error;
        return false;
    }
    *settings = parsed.strings;
    return true;
}

// The local side of every port, opened and checked before any port is touched.
bool prepare(const Invocation &in, std::vector<PortResources> *resources, QString *problem)
{
    // One file for every port, or one per port when its name holds {port}.
    const bool write = in.command == QLatin1String("write");
    const bool filePerPort = write && in.settingsFile.contains(QStringLiteral("{port}"));
    SettingsFile::Strings settings;
    if (write && !filePerPort && !loadSettings(in.settingsFile, &settings, problem))
        return false;
    for (const QString &name : in.ports) {
        PortResources r;
        const int number = name.mid(3).toInt();
        r.port = ComPorts::port(number);
        if (!r.port.valid())
            r.port.number = number;   // opening it tells what is wrong
        r.settings = settings;
        if (filePerPort && !loadSettings(QString(in.settingsFile).replace(QStringLiteral("{port}"), name), &r.settings, problem))
            return false;
        if (in.command == QLatin1String("read") && !in.output.isEmpty() && in.output != QLatin1String("-")) {
            QString path = in.output;
            path.replace(QStringLiteral("{port}"), name);
            r.output = OutputFile::open(path, problem);
            if (!r.output)
                return false;
        }
        if (in.command == QLatin1String("upload") || (in.command == QLatin1String("play") && in.upload)) {
            const bool test = in.command == QLatin1String("play");
            r.upload = LocalFile::open(test ? TestFile::localPath() : in.localFile,
                                       test ? QStringLiteral("test file") : QStringLiteral("file"), problem);
            if (!r.upload)
                return false;
        }
        resources->push_back(std::move(r));
    }
    return true;
}

int runModules(const Invocation &in)
{
    std::vector<PortResources> resources;
    QString problem;
    if (!prepare(in, &resources, &problem)) {
        Output(false, false).note(Output::oneLine(problem) + QStringLiteral(" Nothing was sent."));
        return BadUsage;
    }

    InterruptWatch interrupts;
    // Settings files on standard output push the text lines to standard error.
    const bool settingsOnStdout = in.command == QLatin1String("read") && !in.json
                                  && (in.output.isEmpty() || in.output == QLatin1String("-"));
    Output output(in.json, settingsOnStdout);

    // The traffic, when asked for: every port's, a line each as it comes. Nothing is kept.
    std::unique_ptr<TraceFile> traceFile;
    if (!in.trace.isEmpty()) {
        traceFile = TraceFile::open(in.trace, output, &problem);
        if (!traceFile) {
            output.note(problem + QStringLiteral(" Nothing was sent."));
            return BadUsage;
        }
    }

    // A tracer per port, so that what one port's thread records stays with that thread;
    // the trace file takes from them all.
    std::vector<std::unique_ptr<ModuleJob>> jobs;
    for (PortResources &r : resources)
        jobs.push_back(std::make_unique<ModuleJob>(in, std::move(r), output, traceFile ? traceFile->tracerForPort() : nullptr));
    const int limit = in.jobs > 0 ? in.jobs : int(jobs.size());
    std::vector<std::unique_ptr<QThread>> threads(jobs.size());

    // One thread per port, at most `limit` at once. Each port's outcome is printed once it
    // and every port before it are done, so that the output follows the order of --port.
    QEventLoop loop;
    size_t next = 0;
    size_t printed = 0;
    int running = 0;
    std::vector<bool> done(jobs.size(), false);
    const auto printDone = [&] {
        for (; printed < jobs.size() && done[printed]; ++printed)
            output.portDone(jobs[printed]->report());
    };
    std::function<void()> startMore = [&] {
        while (running < limit && next < jobs.size() && !InterruptWatch::requested()) {
            const size_t i = next++;
            ModuleJob *job = jobs[i].get();
            threads[i].reset(QThread::create([job] { job->run(); }));
            QObject::connect(threads[i].get(), &QThread::finished, &loop, [&, i] {
                done[i] = true;
                printDone();
                --running;
                startMore();
            });
            ++running;
            threads[i]->start();
        }
        if (running == 0)
            loop.quit();
    };
    QObject::connect(&interrupts, &InterruptWatch::interrupted, &loop, [&] {
        for (size_t i = 0; i < next; ++i)
            jobs[i]->interrupt();
        if (running == 0)
            loop.quit();
    });
    startMore();
    if (running > 0)
        loop.exec();
    for (const auto &thread : threads)
        if (thread)
            thread->wait();
    // Every line of the trace is out before the summary.
    if (traceFile)
        traceFile->finish();

    printDone();
    QList<PortReport> reports;
    for (size_t i = 0; i < jobs.size(); ++i) {
        PortReport report = jobs[i]->report();
        if (i >= next) {
            report.status = PortReport::Status::NotReached;
            report.failure = report.statusWord();
            output.portDone(report);
        }
        reports << report;
    }
    output.summary(reports);
    if (InterruptWatch::requested()) {
        output.note(QStringLiteral("interrupted"));
        return SignalBase + InterruptWatch::signalNumber();
    }
    if (output.failed()) {
        output.note(output.failure());
        return ModuleFailed;
    }
    if (traceFile && !traceFile->failure().isEmpty()) {
        output.note(traceFile->failure());
        return ModuleFailed;
    }
    for (const PortReport &r : std::as_const(reports))
        if (!r.ok())
            return ModuleFailed;
    return Success;
}

} // namespace

int run(const QStringList &arguments)
{
    const Parsed parsed = parse(arguments);
    if (parsed.exit >= 0)
        return printAndExit(parsed);
    if (parsed.invocation.command == QLatin1String("ports"))
        return listPorts(parsed.invocation);
    return runModules(parsed.invocation);
}

} // namespace Kavoctl
