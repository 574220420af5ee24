#include "garble.h"

#include <cstdint>
#include <vector>

namespace kavosim {

namespace {

constexpr std::size_t kMaxGarbled = 1024;

// A character as line noise shows it: the lowest high bit and every bit above it high.
unsigned char reduce(unsigned value)
{
    value &= 0xffu;
    if (value == 0)
        return 0;
    unsigned lowest = value & (~value + 1u);
    return static_cast<unsigned char>((0xffu * lowest) & 0xffu);
}

} // namespace

std::string garble(std::string_view sent, int sentRate, int heardRate, const Frame& heard)
{
    if (sent.empty())
        return {};
    if (sentRate <= 0 || heardRate <= 0)
        return std::string(1, '\0'); // a line with no rate at all reads as a break

    // The sender's bits, 8N1, least significant data bit first; the line rests high after.
    std::vector<std::uint8_t> bits;
    bits.reserve(sent.size() * 10);
    for (const char c : sent) {
        const auto byte = static_cast<unsigned char>(c);
        bits.push_back(0);
        for (int k = 0; k < 8; ++k)
            bits.push_back((byte >> k) & 1u);
        bits.push_back(1);
    }

    // Time counts in units of 1 / (2 * sentRate * heardRate) s: a sent bit lasts
    // 2 * heardRate units and a received one 2 * sentRate, so the middle of a received bit
    // falls on a whole unit as well.
    const std::int64_t sentBit = 2LL * heardRate;
    const std::int64_t heardHalf = sentRate;
    const std::int64_t end = static_cast<std::int64_t>(bits.size()) * sentBit;
    auto level = [&](std::int64_t at) {
        const std::int64_t index = at / sentBit;
        return index < static_cast<std::int64_t>(bits.size()) ? bits[static_cast<std::size_t>(index)] : 1;
    };
    const int frameBits = heard.dataBits + (heard.parity ? 1 : 0) + 1; // data, parity, first stop bit

    std::string out;
    std::int64_t from = 0;
    while (from < end && out.size() < kMaxGarbled) {
        // The start bit: the line low at the hunt's start, or the next sent bit that is low.
        std::int64_t start = -1;
        if (level(from) == 0) {
            start = from;
        } else {
            for (std::int64_t index = (from + sentBit - 1) / sentBit; index < static_cast<std::int64_t>(bits.size());
                 ++index) {
                if (bits[static_cast<std::size_t>(index)] == 0) {
                    start = index * sentBit;
                    break;
                }
            }
        }
        if (start < 0)
            break;
        unsigned value = 0;
        std::int64_t sample = start;
        for (int k = 0; k < frameBits; ++k) {
            sample = start + (2LL * k + 3) * heardHalf; // the middle of bit k after the start bit
            if (k < heard.dataBits && level(sample))
                value |= 1u << k;
        }
        out += static_cast<char>(reduce(value));
        from = sample + 1;
    }
    return out;
}

} // namespace kavosim
