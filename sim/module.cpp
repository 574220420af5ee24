#include "module.h"

#include "files.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavosim {

namespace {

const std::string kNoCard = "E08";
const std::string kNotFound = "EF2";
const std::string kUnknown = "E01";
const std::string kBadValue = "E05";
const std::string kFileError = "EF9";
const std::string kDataTimeOut = "E07";

// More than a state file can need (ten short lines), and little enough to read at once.
constexpr std::size_t kMaxStateFile = 64 * 1024;

struct Range {
    int Settings::*field;
    int max;
};

bool rangeFor(char letter, Range& range)
{
    switch (letter) {
    case 'D': range = {&Settings::d, 4}; return true;
    case 'T': range = {&Settings::t, 254}; return true;
    case 'S': range = {&Settings::s, 2}; return true;
    case 'N': range = {&Settings::n, 32767}; return true;
    case 'H': range = {&Settings::h, 1}; return true;
    case 'O': range = {&Settings::o, 254}; return true;
    case 'B': range = {&Settings::b, 255}; return true;
    case 'U': range = {&Settings::u, 1}; return true;
    default: return false;
    }
}

Reply error(const std::string& code)
{
    return Reply{code, -1, {}};
}

// The module splits a line at single blanks: a blank at either end, or two in a row, leave an
// empty word, and a line with an empty word is no command it knows.
bool wellSpaced(std::string_view line)
{
    return line.empty() || (line.front() != ' ' && line.back() != ' ' && line.find("  ") == std::string_view::npos);
}

bool readAtMost(int fd, std::size_t limit, std::string& content)
{
    char buffer[4096];
    while (content.size() < limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - content.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// A card file is opened where it is, never through a link: a link planted in the card folder
// would make the module write or play whatever it points at.
int openCardFile(const std::string& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The size of the regular card file at `path`, not following a link; -1 when there is none.
long long cardFileSize(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

} // namespace

int rateIndex(int bps)
{
    for (int i = 0; i < 5; ++i) {
        if (kRates[i] == bps)
            return i;
    }
    return -1;
}

bool storeSetting(Settings& settings, char letter, const std::vector<std::string>& values)
{
    if (letter == 'V') {
        if (values.empty() || values.size() > 2)
            return false;
        long long left = 0;
        long long right = 0;
        if (!parseDecimal(values[0], 254, left))
            return false;
        right = left;
        if (values.size() == 2 && !parseDecimal(values[1], 254, right))
            return false;
        settings.vl = static_cast<int>(left);
        settings.vr = static_cast<int>(right);
        return true;
    }
    Range range{};
    if (!rangeFor(letter, range) || values.size() != 1)
        return false;
    long long value = 0;
    if (!parseDecimal(values[0], range.max, value))
        return false;
    settings.*range.field = static_cast<int>(value);
    return true;
}

bool loadStateFile(const std::string& path, Settings& settings, std::string& error)
{
    // Only a regular file of this user's, read without waiting (a named pipe would block, a
    // device never end) and no more of it than a state file can need.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read state file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    std::string content;
    if (::fstat(fd, &st) != 0)
        error = "cannot read state file " + path + ": " + std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        error = "state file " + path + " is not a regular file (" + fileKind(st.st_mode) + ")";
    else if (st.st_uid != ::geteuid())
        error = "state file " + path + " belongs to user " + userName(st.st_uid) + ", not to you ("
            + userName(::geteuid()) + ")";
    else if (!readAtMost(fd, kMaxStateFile + 1, content))
        error = "cannot read state file " + path + ": " + std::strerror(errno);
    else if (content.size() > kMaxStateFile)
        error = "state file " + path + " is larger than " + std::to_string(kMaxStateFile / 1024)
            + " KiB; it holds one short line per setting";
    ::close(fd);
    if (!error.empty())
        return false;

    int number = 0;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (normalizeBlanks(line).empty() || line[line.find_first_not_of(' ')] == '#')
            continue;
        const std::size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? std::string() : normalizeBlanks(line.substr(0, eq));
        if (key.size() != 1
            || !storeSetting(settings, key[0], splitBlanks(std::string_view(line).substr(eq + 1)))) {
            error = path + ":" + std::to_string(number) + ": expected X=value with a value in range, got \""
                + escapeForLog(line) + "\"";
            return false;
        }
    }
    return true;
}

Module::Module(std::optional<std::string> card, long long capacityKiB, std::string identity,
               std::string serial, Settings settings)
    : card_(std::move(card))
    , capacityKiB_(capacityKiB)
    , identity_(std::move(identity))
    , serial_(std::move(serial))
    , settings_(settings)
{
}

Module::~Module()
{
    closeFile();
}

Reply Module::execute(std::string_view line)
{
    if (!wellSpaced(line))
        return error(kUnknown);
    const std::vector<std::string> words = splitBlanks(line);
    if (words.empty())
        return {};
    const std::string& command = words[0];
    if (command == "V")
        return words.size() == 1 ? Reply{"Kavo v2.07" + identity_ + " SN " + serial_, -1, {}} : error(kBadValue);
    if (command == "ST")
        return setting(words);
    if (command == "FC")
        return card(words);
    if (command == "PC")
        return play(words);
    return error(kUnknown);
}

Reply Module::setting(const std::vector<std::string>& words)
{
    if (words.size() < 2 || words[1].size() != 1)
        return error(kBadValue);
    const char letter = words[1][0];
    Range range{};
    if (letter != 'V' && !rangeFor(letter, range))
        return error(kBadValue);
    if (words.size() == 2) {
        if (letter == 'V')
            return {std::to_string(settings_.vl) + " " + std::to_string(settings_.vr), -1, {}};
        return {std::to_string(settings_.*range.field), -1, {}};
    }
    const std::vector<std::string> values(words.begin() + 2, words.end());
    if (!storeSetting(settings_, letter, values))
        return error(kBadValue);
    Reply reply;
    if (letter == 'D')
        reply.newRateIndex = settings_.d;
    return reply;
}

bool Module::cardPath(const std::string& name, std::string& path) const
{
    if (name.size() < 2 || name[0] != '/')
        return false;
    const std::string base = name.substr(1);
    if (base.find('/') != std::string::npos || base.find('\0') != std::string::npos || base == "."
        || base == ".." || base.find("..") != std::string::npos)
        return false;
    path = *card_ + "/" + base;
    return true;
}

long long Module::usedKiB() const
{
    long long used = 0;
    std::error_code ec;
    namespace fs = std::filesystem;
    for (fs::recursive_directory_iterator it(*card_, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code sizeError;
        if (!it->is_symlink(sizeError) && it->is_regular_file(sizeError)) {
            const auto size = it->file_size(sizeError);
            if (!sizeError)
                used += static_cast<long long>((size + 1023) / 1024);
        }
    }
    return used;
}

Reply Module::card(const std::vector<std::string>& words)
{
    if (!card_)
        return error(kNoCard);
    if (words.size() < 2)
        return error(kUnknown);
    const std::string& sub = words[1];
    if (sub == "Q") {
        if (words.size() != 2)
            return error(kBadValue);
        const long long free = std::max(0LL, capacityKiB_ - usedKiB());
        return {std::to_string(capacityKiB_) + " " + std::to_string(free), -1, {}};
    }
    if (sub == "F")
        return words.size() == 2 ? Reply{"FAT32", -1, {}} : error(kBadValue);
    if (sub == "L") {
        std::string path;
        if (words.size() != 3 || !cardPath(words[2], path))
            return error(kBadValue);
        const long long size = cardFileSize(path);
        if (size < 0)
            return error(kNotFound);
        return {std::to_string(size), -1, {}};
    }
    if (sub == "O") {
        std::string path;
        if (words.size() != 5 || words[2] != "1" || words[3] != "W" || !cardPath(words[4], path))
            return error(kBadValue);
        closeFile();
        openFile_ = openCardFile(path, O_WRONLY | O_CREAT | O_TRUNC);
        return openFile_ < 0 ? error(kFileError) : Reply{};
    }
    if (sub == "W") // a valid "FC W 1 n" never gets here
        return error(kBadValue);
    if (sub == "C") {
        if (words.size() != 3 || words[2] != "1")
            return error(kBadValue);
        closeFile();
        return {};
    }
    return error(kUnknown);
}

Reply Module::play(const std::vector<std::string>& words)
{
    if (!card_)
        return error(kNoCard);
    if (words.size() < 2 || words[1] != "F")
        return error(kUnknown);
    std::string path;
    if (words.size() != 3 || !cardPath(words[2], path))
        return error(kBadValue);
    if (cardFileSize(path) < 0)
        return error(kNotFound);
    return {{}, -1, "played " + words[2]};
}

bool Module::isWrite(std::string_view line, int& count)
{
    if (!wellSpaced(line))
        return false;
    const std::vector<std::string> words = splitBlanks(line);
    long long n = 0;
    if (words.size() != 4 || words[0] != "FC" || words[1] != "W" || words[2] != "1"
        || !parseDecimal(words[3], 65535, n) || n < 1)
        return false;
    count = static_cast<int>(n);
    return true;
}

Reply Module::writeData(std::string_view data)
{
    if (!card_)
        return error(kNoCard);
    if (openFile_ < 0)
        return error(kFileError);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(openFile_, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return error(kFileError);
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Reply Module::dataTimedOut()
{
    return error(kDataTimeOut);
}

void Module::closeFile()
{
    if (openFile_ >= 0) {
        ::close(openFile_);
        openFile_ = -1;
    }
}

} // namespace kavosim
