#include "link/waker.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

Waker::Waker()
{
#ifdef Q_OS_UNIX
    if (::pipe(m_fds) != 0) {
        m_fds[0] = m_fds[1] = -1;
        return;
    }
    for (const int fd : m_fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
#endif
}

Waker::~Waker()
{
#ifdef Q_OS_UNIX
    for (const int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
#endif
}

void Waker::wake()
{
#ifdef Q_OS_UNIX
    const char byte = 1;
    // A full pipe is already awake.
    [[maybe_unused]] const ssize_t n = ::write(m_fds[1], &byte, 1);
#endif
}

void Waker::clear()
{
#ifdef Q_OS_UNIX
    char bytes[64];
    while (::read(m_fds[0], bytes, sizeof bytes) > 0) {
    }
#endif
}
