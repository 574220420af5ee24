#pragma once

// Wakes a thread that waits on a port: any thread may call wake(); the waiting thread
// watches fd() beside the port and clear()s it once woken.
class Waker
{
public:
    Waker();
    ~Waker();
    Waker(const Waker &) = delete;
    Waker &operator=(const Waker &) = delete;

    void wake();
    void clear();
    // What to watch for reading; -1 where there is none.
    int fd() const { return m_fds[0]; }

private:
    int m_fds[2] = {-1, -1};
};
