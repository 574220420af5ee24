#pragma once

#include <QMutex>
#include <QMutexLocker>

#include "link/comports.h"

// The port the user has chosen, as its listing gave it: one thread (the window's) changes
// it while another (a session's) reads it at every try of a search.
class PortChoice
{
public:
    PortChoice() = default;
    explicit PortChoice(const ComPorts::Port &port) : m_port(port) {}

    ComPorts::Port get() const
    {
        const QMutexLocker locked(&m_lock);
        return m_port;
    }
    void set(const ComPorts::Port &port)
    {
        const QMutexLocker locked(&m_lock);
        m_port = port;
    }

private:
    mutable QMutex m_lock;
    ComPorts::Port m_port;
};
