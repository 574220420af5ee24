// What the tool's receiver makes of the module's answer when the two ends of the line do not
// agree on the bit rate or the character frame.
#pragma once

#include <string>
#include <string_view>

namespace kavosim {

// A receiver's character frame, as the tool set it on the port.
struct Frame {
    int dataBits = 8;
    bool parity = false;
    int stopBits = 1;
    bool flowControl = false; // RTS/CTS or XON/XOFF

    // The module's own frame: 8 data bits, no parity, one stop bit, no flow control.
    bool plain() const { return dataBits == 8 && !parity && stopBits == 1 && !flowControl; }
};

// The bytes a receiver at heardRate with frame `heard` reads from `sent`, sent as 8N1 at
// sentRate. The receiver is worked through bit by bit: it takes a low line as a start bit,
// samples each bit of its own frame in the middle of its own bit time, and hunts for the next
// start bit from the middle of its stop bit on. Each character it reads is then reduced to what
// such characters look like in practice, a run of low bits followed by high bits (0x00, 0x80,
// 0xC0 ... 0xFE, 0xFF): a start bit stretched over some data bits, then the line back at rest.
// So the result is never a prompt '>', a CR or an LF, never empty for a non-empty text, and
// always the same for the same text, rates and frame. At most 1024 bytes.
std::string garble(std::string_view sent, int sentRate, int heardRate, const Frame& heard);

} // namespace kavosim
