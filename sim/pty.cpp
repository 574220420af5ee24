// The simulator's line: the pseudo-terminal, what the tool has set on it, and the COMn link
// that publishes it in the ports folder.
#include "sim.h"

#include "portsfolder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kavosim {

namespace {

struct SpeedName {
    speed_t speed;
    int bps;
};

const SpeedName kSpeeds[] = {
    {B0, 0}, {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
    {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
    {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    {B460800, 460800}, {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
    {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000},
    {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};

int bpsFromSpeed(speed_t speed)
{
    for (const SpeedName& s : kSpeeds) {
        if (s.speed == speed)
            return s.bps;
    }
    return -1;
}

speed_t speedFromBps(int bps)
{
    for (const SpeedName& s : kSpeeds) {
        if (s.bps == bps)
            return s.speed;
    }
    return B9600;
}

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__))
// The kernel's termios2, which also carries arbitrary bit rates; read when the
// tool set a rate that has no B constant.
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
#define KAVO_SIM_HAS_TERMIOS2 1
#endif

std::string readLink(const std::string& path)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

} // namespace

bool Sim::openLine()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        std::cerr << "kavo-sim: cannot open a pseudo-terminal: " << std::strerror(errno) << "\n";
        return false;
    }
    char name[256];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        std::cerr << "kavo-sim: ptsname: " << std::strerror(errno) << "\n";
        return false;
    }
    slavePath_ = name;
    // Held for the whole run, so the master never sees a hang-up when the tool closes the port.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        std::cerr << "kavo-sim: cannot open " << slavePath_ << ": " << std::strerror(errno) << "\n";
        return false;
    }
    termios tio {};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&tio, speedFromBps(lineRate_));
        ::cfsetospeed(&tio, speedFromBps(lineRate_));
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    return true;
}

bool Sim::publish()
{
    std::string error;
    // The ports folder by the tool's own rule (portsfolder.h), or --ports-dir.
    const std::string dir = portsFolderToUse(o_.portsDir, error, std::cerr);
    if (dir.empty()) {
        std::cerr << "kavo-sim: " << error << "\n";
        return false;
    }
    const int first = o_.com ? o_.com : 1;
    const int last = o_.com ? o_.com : 16;
    for (int n = first; n <= last; ++n) {
        const std::string path = dir + "/COM" + std::to_string(n);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            const bool link = S_ISLNK(st.st_mode);
            const bool stale = link && ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
            const bool ours = link && readLink(path) == slavePath_;
            if (!stale && !ours) {
                if (o_.com) {
                    std::cerr << "kavo-sim: COM" << n << " is taken: " << path << " -> " << readLink(path)
                              << " is a live device of someone else\n";
                    exitCode_ = 2;
                    return false;
                }
                continue;
            }
            ::unlink(path.c_str());
        }
        if (::symlink(slavePath_.c_str(), path.c_str()) == 0) {
            linkPath_ = path;
            std::cout << "COM" << n << " " << slavePath_ << std::endl;
            return true;
        }
        if (errno != EEXIST) {
            std::cerr << "kavo-sim: cannot create " << path << ": " << std::strerror(errno) << "\n";
            return false;
        }
        if (o_.com) {
            std::cerr << "kavo-sim: COM" << n << " was taken meanwhile: " << path << "\n";
            exitCode_ = 2;
            return false;
        }
    }
    std::cerr << "kavo-sim: COM1 to COM16 are all taken in " << dir << "\n";
    exitCode_ = 2;
    return false;
}

void Sim::removeLink()
{
    if (linkPath_.empty())
        return;
    if (readLink(linkPath_) == slavePath_)
        ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

int Sim::toolRate() const
{
    // On Linux the master reports the slave's settings, i.e. what the tool set.
    termios tio {};
    if (::tcgetattr(master_, &tio) != 0)
        return 0;
    const int bps = bpsFromSpeed(::cfgetospeed(&tio));
    if (bps >= 0)
        return bps;
#ifdef KAVO_SIM_HAS_TERMIOS2
    KernelTermios2 tio2 {};
    if (::ioctl(master_, _IOR('T', 0x2A, KernelTermios2), &tio2) == 0)
        return static_cast<int>(tio2.c_ospeed);
#endif
    return 0;
}

Sim::ToolLine Sim::toolLine() const
{
    ToolLine line;
    line.rate = toolRate();
    termios tio {};
    if (::tcgetattr(master_, &tio) == 0) {
        switch (tio.c_cflag & CSIZE) {
        case CS5: line.frame.dataBits = 5; break;
        case CS6: line.frame.dataBits = 6; break;
        case CS7: line.frame.dataBits = 7; break;
        default: line.frame.dataBits = 8; break;
        }
        line.frame.parity = (tio.c_cflag & PARENB) != 0;
        line.frame.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
        line.frame.flowControl = (tio.c_cflag & CRTSCTS) != 0 || (tio.c_iflag & (IXON | IXOFF)) != 0;
    }
    return line;
}

} // namespace kavosim
