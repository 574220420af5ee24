#pragma once

#include <QStringList>

// kavoctl's commands: ports, info, read, write, play, upload, help.
namespace Kavoctl {

// Runs the command line (the program's name first) and returns the exit status.
int run(const QStringList &arguments);

} // namespace Kavoctl
