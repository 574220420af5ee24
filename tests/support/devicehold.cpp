#include "devicehold.h"

#include <QFile>
#include <QSerialPort>

#include <fcntl.h>
#include <unistd.h>

DeviceHold::DeviceHold(const QString &device)
    : m_fd(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
{
}

DeviceHold::~DeviceHold()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool deviceFree(const QString &device)
{
    QSerialPort port;
    port.setPortName(device);
    return port.open(QIODevice::ReadWrite);
}
