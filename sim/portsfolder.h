#pragma once

#include <ostream>
#include <string>

namespace kavosim {

// The folder kavo-sim publishes its COMn link in, by the same rule as the tool:
// $XDG_RUNTIME_DIR/kavoconfig/ports when that variable names a folder of this user that is
// closed to group and others, otherwise one in the user's own home:
// $XDG_STATE_HOME/kavoconfig/ports (XDG_STATE_HOME only when absolute), else
// ~/.local/state/kavoconfig/ports. `given` (--ports-dir) replaces the rule when not empty.
// What is missing is created, closed to everyone but this user. A folder that belongs to
// another user, is shared with or open to others, or is no folder is refused: the result is
// empty and `error` says why and what the user can do. Why $XDG_RUNTIME_DIR was passed over
// goes to `notes`.
std::string portsFolderToUse(const std::string& given, std::string& error, std::ostream& notes);

} // namespace kavosim
