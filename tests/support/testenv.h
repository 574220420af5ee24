#pragma once

#include <QString>

// Gives the test process a runtime folder of its own (so its COM ports are only the ones
// its simulators publish) and keeps the machine's own serial ports out of the COM list.
namespace TestEnv {
void isolate();
QString runtimeFolder();
} // namespace TestEnv
