#pragma once

#include <QString>

// Keeps a pseudo-terminal's number ours while it is open (without holding the device
// exclusively): once its simulator has gone, no other program gets that device name, so a
// module started anew comes up on another device.
class DeviceHold
{
public:
    explicit DeviceHold(const QString &device);
    ~DeviceHold();
    DeviceHold(const DeviceHold &) = delete;
    DeviceHold &operator=(const DeviceHold &) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// True when another program could take the device now, i.e. no program holds it.
bool deviceFree(const QString &device);
