#pragma once

#include <QString>

// Gives the test process a runtime folder of its own (so its COM ports are only the ones
// its simulators publish, in a ports folder made ready there), a configuration folder of
// its own (so remembered COM numbers are the test's alone; programs the test starts inherit
// both), and keeps the machine's own serial ports out of the COM list.
namespace TestEnv {
void isolate();
QString runtimeFolder();
QString configFolder();
} // namespace TestEnv
