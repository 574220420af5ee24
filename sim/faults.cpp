// Random faults (--random): which fault a command line gets, and what it does to the answer.
#include "sim.h"

namespace kavosim {

namespace {

const char* faultName(int fault)
{
    static const char* const names[] = {"",        "garbage", "out-of-range", "error",      "split",
                                        "silence", "trailing", "rate-change", "hangup"};
    return names[fault];
}

} // namespace

std::uint64_t Sim::nextRandom()
{
    // splitmix64: the same sequence for the same start value on every platform.
    random_ += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = random_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

Sim::Fault Sim::rollFault()
{
    std::uint64_t roll = nextRandom() % 1000;
    if (o_.faultPercent) {
        // --faults: that share of the lines gets a fault, the faults keep their proportions.
        const std::uint64_t share = static_cast<std::uint64_t>(*o_.faultPercent) * 10;
        if (roll >= share)
            return Fault::None;
        roll = roll * 705 / share;
    }
    if (roll < 5)
        return Fault::Hangup;
    switch ((roll - 5) / 100) {
    case 0: return Fault::Garbage;
    case 1: return Fault::OutOfRange;
    case 2: return Fault::Error;
    case 3: return Fault::Split;
    case 4: return Fault::Silence;
    case 5: return Fault::Trailing;
    case 6: return Fault::RateChange;
    default: return Fault::None;
    }
}

std::string Sim::randomBytes(int count, bool allowPrompt)
{
    std::string bytes;
    while (static_cast<int>(bytes.size()) < count) {
        const char c = static_cast<char>(nextRandom() & 0xff);
        if (allowPrompt || c != '>')
            bytes += c;
    }
    return bytes;
}

void Sim::applyFault(Fault fault, Items& items, std::size_t answerAt, Reply& reply)
{
    std::string& answer = items[answerAt].bytes; // body + '>'
    switch (fault) {
    case Fault::None:
    case Fault::Error:
        break;
    case Fault::Garbage:
        answer = randomBytes(1 + static_cast<int>(nextRandom() % 12), false) + '>';
        break;
    case Fault::OutOfRange: {
        // Every number becomes one no setting or card can hold.
        auto outOfRange = [this] {
            const std::uint64_t r = nextRandom();
            return (r & 1 ? "-" : "") + std::to_string(4294967296ULL + (r >> 1) % 1000000);
        };
        std::string body;
        bool anyNumber = false;
        for (std::size_t i = 0; i + 1 < answer.size();) {
            if (answer[i] >= '0' && answer[i] <= '9') {
                while (i + 1 < answer.size() && answer[i] >= '0' && answer[i] <= '9')
                    ++i;
                body += outOfRange();
                anyNumber = true;
            } else {
                body += answer[i++];
            }
        }
        answer = (anyNumber ? body : outOfRange()) + '>';
        break;
    }
    case Fault::Split: {
        const std::string whole = answer;
        Items split;
        std::size_t at = 0;
        const int cuts = 1 + static_cast<int>(nextRandom() % 3);
        for (int i = 0; i < cuts && at < whole.size(); ++i) {
            const std::size_t len = nextRandom() % (whole.size() - at);
            if (len > 0)
                split.push_back({OutItem::Bytes, whole.substr(at, len), 0});
            at += len;
            split.push_back({OutItem::Delay, {}, 1 + static_cast<int>(nextRandom() % 120)});
        }
        split.push_back({OutItem::Bytes, whole.substr(at), 0});
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(answerAt));
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(answerAt), split.begin(), split.end());
        break;
    }
    case Fault::Silence:
        items.clear();
        break;
    case Fault::Trailing:
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(answerAt) + 1,
                     OutItem{OutItem::Bytes, randomBytes(1 + static_cast<int>(nextRandom() % 4), true), 0});
        break;
    case Fault::RateChange: {
        int index = static_cast<int>(nextRandom() % 4);
        if (index >= module_->settings().d)
            ++index;
        module_->settings().d = index;
        reply.newRateIndex = index;
        break;
    }
    case Fault::Hangup: {
        std::string all;
        for (const OutItem& item : items) {
            if (item.kind == OutItem::Bytes)
                all += item.bytes;
        }
        all.resize(nextRandom() % all.size());
        items.clear();
        if (!all.empty())
            items.push_back({OutItem::Bytes, all, 0});
        items.push_back({OutItem::Hangup, {}, 0});
        reply.newRateIndex = -1;
        break;
    }
    }
}

Reply Sim::faultError()
{
    static const char* const codes[] = {"E01", "E05", "E08", "EF2", "EF9"};
    return Reply{codes[nextRandom() % 5], -1, {}};
}

std::string Sim::faultNote(Fault fault, const Reply& reply) const
{
    if (fault == Fault::None)
        return std::string();
    std::string note = std::string("random:") + faultName(static_cast<int>(fault));
    if (fault == Fault::RateChange)
        note += "=" + std::to_string(kRates[reply.newRateIndex]);
    return note;
}

} // namespace kavosim
