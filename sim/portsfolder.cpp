#include "portsfolder.h"

#include "files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavosim {

namespace {

std::string modeText(mode_t mode)
{
    std::string text = "0000";
    for (int digit = 0; digit < 4; ++digit)
        text[3 - digit] = static_cast<char>('0' + ((mode >> (3 * digit)) & 07));
    return text;
}

// Why `path` may not serve as a private folder of this user, and what to do; empty when it
// may. A missing folder is no problem unless it must exist. The advice is one the user can
// follow: what another user owns only that user or the administrator can remove, and a
// folder shared with others (the temporary folder) stays shared.
std::string privacyProblem(const std::string& path, bool mustExist, bool followLink, std::string* fix = nullptr)
{
    std::string ignored;
    if (!fix)
        fix = &ignored;
    struct stat st {};
    if ((followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
        if (errno == ENOENT && !mustExist)
            return std::string();
        if (errno == ENOENT)
            return "does not exist";
        return std::string("cannot be examined (") + std::strerror(errno) + ")";
    }
    const bool own = st.st_uid == ::geteuid();
    const std::string elsewhere = "choose a folder of your own that is closed to everyone else (mode 0700) with "
                                  "--ports-dir or XDG_RUNTIME_DIR";
    *fix = own ? "Remove it, then try again."
               : "Only user " + userName(st.st_uid) + " or the administrator can remove it; or " + elsewhere + ".";
    if (S_ISLNK(st.st_mode))
        return "is a symbolic link, not a folder";
    if (!S_ISDIR(st.st_mode))
        return "is not a folder";
    // Shared: a folder everyone may add to that keeps each one's entries apart (sticky, as
    // /tmp), or another user's that everyone may write to.
    if ((st.st_mode & S_ISVTX) || (!own && (st.st_mode & S_IWOTH))) {
        *fix = "Leave it as it is, and " + elsewhere + ".";
        return "is a folder shared with others (mode " + modeText(st.st_mode & 07777) + ")";
    }
    if (!own)
        return "belongs to user " + userName(st.st_uid) + ", not to you (" + userName(::geteuid()) + ")";
    if (st.st_mode & 077) {
        *fix = "Close it to everyone but you (chmod 700 " + path + "), then try again.";
        return "is open to its group or others (mode " + modeText(st.st_mode & 07777) + ", should be 0700)";
    }
    return std::string();
}

bool makeFolder(const std::string& path, std::string& error)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the ports folder " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// mkdir -p, every folder made closed to everyone but this user.
bool makeFolders(const std::string& path, std::string& error)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        if (!makeFolder(path.substr(0, slash), error))
            return false;
    return makeFolder(path, error);
}

// The user's own folder for state: $XDG_STATE_HOME when absolute, else ~/.local/state (the
// home from HOME, else from the password database). Empty when there is no home.
std::string stateHome()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return state;
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env)
        home = env;
    else if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    if (home.empty())
        return std::string();
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return (home == "/" ? std::string() : home) + "/.local/state";
}

} // namespace

std::string portsFolderToUse(const std::string& given, std::string& error, std::ostream& notes)
{
    if (!given.empty()) {
        // Judged before anything is made in it: a shared folder is refused as it is.
        std::string fix;
        std::string why = privacyProblem(given, false, true, &fix);
        if (why.empty() && !makeFolders(given, error))
            return std::string();
        if (why.empty())
            why = privacyProblem(given, true, true, &fix);
        if (!why.empty()) {
            error = "the ports folder " + given + " is not used, so no COM link is published in it: it " + why + ". " + fix;
            return std::string();
        }
        return given;
    }

    const std::string state = stateHome();
    const std::string fallback = state.empty() ? std::string() : state + "/kavoconfig";
    std::string base = fallback;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) {
        const std::string dir = runtime;
        const std::string why = dir[0] != '/' ? "is not an absolute path" : privacyProblem(dir, true, true);
        if (why.empty())
            base = dir + "/kavoconfig";
        else
            notes << "kavo-sim: XDG_RUNTIME_DIR (" << dir << ") " << why << ", so the ports folder is " << fallback
                  << "/ports instead.\n";
    }
    if (base.empty()) {
        error = "there is no ports folder: neither XDG_RUNTIME_DIR nor a home folder (HOME) names a place for it. "
                "Give one with --ports-dir.";
        return std::string();
    }
    const std::string ports = base + "/ports";
    // What lies on the way to the kavoconfig folder (~/.local/state) is made where missing.
    if (base == fallback && !makeFolders(state, error))
        return std::string();
    for (const std::string& dir : {base, ports}) {
        std::string fix;
        std::string why = privacyProblem(dir, false, false, &fix);
        if (why.empty() && !makeFolder(dir, error))
            return std::string();
        if (why.empty())
            why = privacyProblem(dir, true, false, &fix);
        if (!why.empty()) {
            error = "the ports folder " + ports + " is not used, so no COM link is published in it: " + dir + " " + why
                    + ". " + fix;
            return std::string();
        }
    }
    return ports;
}

} // namespace kavosim
