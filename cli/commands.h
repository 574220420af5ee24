#pragma once

#include <QStringList>

// kavoctl's commands: ports, info, read, write, play, upload.
namespace Kavoctl {

enum Exit {
    Success = 0,       // every port succeeded
    ModuleFailed = 1,  // a module was not found, refused something, or failed otherwise
    BadUsage = 2,      // bad usage or a bad settings file: nothing was sent
    Interrupted = 130, // Ctrl+C or SIGTERM
};

// Runs the command line (the program's name first) and returns the exit status.
int run(const QStringList &arguments);

} // namespace Kavoctl
