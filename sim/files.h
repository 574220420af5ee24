// What kavo-sim makes sure of in the files and folders it is given: whose they are and what.
#pragma once

#include <string>

#include <sys/types.h>

namespace kavosim {

// The user's name, or the number when it has none.
std::string userName(uid_t uid);

// What a file that is not a regular one is, in words ("a folder", "a named pipe", ...).
std::string fileKind(mode_t mode);

// Why `path` may not be the card folder: it is a symbolic link, no folder, or another user's.
// Empty when it may.
std::string cardFolderProblem(const std::string& path);

} // namespace kavosim
