#include "files.h"

#include <cerrno>
#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavosim {

std::string userName(uid_t uid)
{
    if (const passwd* pw = ::getpwuid(uid))
        return pw->pw_name;
    return std::to_string(uid);
}

std::string fileKind(mode_t mode)
{
    if (S_ISREG(mode))
        return "a regular file";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "no regular file";
}

std::string cardFolderProblem(const std::string& path)
{
    // Not followed: the card's files are the folder's own, wherever the link would lead.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::string("cannot be examined: ") + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return "is " + fileKind(st.st_mode) + ", not a folder";
    if (st.st_uid != ::geteuid())
        return "belongs to user " + userName(st.st_uid) + ", not to you (" + userName(::geteuid())
            + "); give a folder of your own";
    return std::string();
}

} // namespace kavosim
