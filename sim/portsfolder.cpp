#include "portsfolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavosim {

namespace {

std::string userName(uid_t uid)
{
    if (const passwd* pw = ::getpwuid(uid))
        return pw->pw_name;
    return std::to_string(uid);
}

std::string modeText(mode_t mode)
{
    std::string text = "0000";
    for (int digit = 0; digit < 4; ++digit)
        text[3 - digit] = static_cast<char>('0' + ((mode >> (3 * digit)) & 07));
    return text;
}

// Why `path` may not serve as a private folder of this user, and what to do; empty when it
// may. A missing folder is no problem unless it must exist.
std::string privacyProblem(const std::string& path, bool mustExist, bool followLink, std::string* fix = nullptr)
{
    std::string ignored;
    if (!fix)
        fix = &ignored;
    *fix = "Remove it, then try again.";
    struct stat st {};
    if ((followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
        if (errno == ENOENT && !mustExist)
            return std::string();
        if (errno == ENOENT)
            return "does not exist";
        return std::string("cannot be examined (") + std::strerror(errno) + ")";
    }
    if (S_ISLNK(st.st_mode))
        return "is a symbolic link, not a folder";
    if (!S_ISDIR(st.st_mode))
        return "is not a folder";
    if (st.st_uid != ::geteuid())
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

} // namespace

std::string portsFolderToUse(const std::string& given, std::string& error, std::ostream& notes)
{
    if (!given.empty()) {
        if (!makeFolders(given, error))
            return std::string();
        std::string fix;
        const std::string why = privacyProblem(given, true, true, &fix);
        if (!why.empty()) {
            error = "the ports folder " + given + " is not used, so no COM link is published in it: it " + why + ". " + fix;
            return std::string();
        }
        return given;
    }

    const std::string fallback = "/tmp/kavoconfig-" + std::to_string(::geteuid());
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
    const std::string ports = base + "/ports";
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
