#pragma once

#include <QSerialPort>
#include <QString>

#include "link/comports.h"

// What stands in the way of using a COM port's device, in words for the user: each text
// names the COM number and the device, says what is wrong and, where the user can do
// something about it, what.
namespace DeviceCheck {

// Judged without opening the device: missing, a folder, no character device, no
// permission to read and write it, or a lock file of a process that holds it (living, or
// ended without removing it where this user cannot). Empty when nothing speaks against it:
// whether another program holds it without a lock file shows only when it is opened.
QString problemWithoutOpening(const ComPorts::Port &port, QSerialPort::SerialPortError *code = nullptr);

// Opens the device and closes it again, and nothing else: neither the line's settings nor
// what waits to be read are touched. Empty when it opened.
QString problemOpening(const ComPorts::Port &port);

// Why the serial port could not open the device.
QString openFailure(const QSerialPort &serial, const ComPorts::Port &port);

// "COM3 is /dev/ttyUSB0": how every description begins.
QString subject(const ComPorts::Port &port);

} // namespace DeviceCheck
