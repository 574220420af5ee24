#pragma once

#include <QString>
#include <QStringList>

#include "settings/settingsfile.h"

// kavoctl's command line taken apart and checked, before anything is opened or sent.
namespace Kavoctl {

enum Exit {
    Success = 0,       // every port succeeded
    ModuleFailed = 1,  // a module was not found, refused something, or failed otherwise
    BadUsage = 2,      // bad usage or a local file that cannot be used: nothing was sent
    // A signal ended the run: 128 + its number (130 Ctrl+C, 143 SIGTERM, 129 SIGHUP).
    SignalBase = 128,
};

struct Invocation {
    QString command;
    QStringList ports;        // "COM3" ..., each once, in the order given
    qint32 rate = 0;          // 0: automatic detection
    int jobs = 0;             // ports handled at once; 0: all
    bool json = false;
    bool verbose = false;
    QString output;           // read: -o ("-" or empty: standard output)
    QString settingsFile;     // write: the file ("-": standard input)
    bool upload = false;      // play: --upload
    QString localFile;        // upload
    QString cardPath;         // upload: --as, or the local file's name
    QString trace;            // --trace: where the traffic goes ("-": standard error); empty: nowhere
};

struct Parsed {
    Invocation invocation;
    // When the command line is done with (help, version, a usage error): what to print,
    // where, and the exit status. -1 while there is work to do.
    int exit = -1;
    QString out;
    QString err;
};

Parsed parse(const QStringList &arguments);

// The help text of kavoctl, or of one command.
QString helpText(const QString &command = QString());
// The commands, in the order the help lists them.
QStringList commands();

} // namespace Kavoctl
