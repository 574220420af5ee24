#pragma once

#include <ostream>
#include <string>

namespace kavosim {

// The folder kavo-sim publishes its COMn link in, by the same rule as the tool:
// $XDG_RUNTIME_DIR/kavoconfig/ports when that variable names a folder of this user that is
// closed to group and others, otherwise /tmp/kavoconfig-<uid>/ports. `given` (--ports-dir)
// replaces the rule when not empty. What is missing is created, closed to everyone but this
// user. A folder that belongs to another user, is open to group or others, or is no folder
// is refused: the result is empty and `error` says why. Why $XDG_RUNTIME_DIR was passed
// over goes to `notes`.
std::string portsFolderToUse(const std::string& given, std::string& error, std::ostream& notes);

} // namespace kavosim
