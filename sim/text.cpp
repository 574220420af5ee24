#include "text.h"

namespace kavosim {

std::string Chunked::joined() const
{
    std::string all;
    for (const std::string& piece : pieces)
        all += piece;
    return all;
}

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool decodeEscapes(std::string_view text, Chunked& out, std::string& error)
{
    out.pieces.assign(1, std::string());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            out.pieces.back() += c;
            continue;
        }
        if (++i >= text.size()) {
            error = "text ends with a lone backslash";
            return false;
        }
        switch (text[i]) {
        case 'r': out.pieces.back() += '\r'; break;
        case 'n': out.pieces.back() += '\n'; break;
        case 't': out.pieces.back() += '\t'; break;
        case 'e': out.pieces.back() += '\x1b'; break;
        case '\\': out.pieces.back() += '\\'; break;
        case '|': out.pieces.emplace_back(); break;
        case 'x': {
            const int hi = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "\\x needs two hex digits";
                return false;
            }
            out.pieces.back() += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + text[i];
            return false;
        }
    }
    return true;
}

bool decodePlain(std::string_view text, std::string& out, std::string& error)
{
    Chunked chunked;
    if (!decodeEscapes(text, chunked, error))
        return false;
    if (chunked.pieces.size() != 1) {
        error = "a chunk break (\\|) is not allowed here";
        return false;
    }
    out = chunked.pieces.front();
    return true;
}

std::string escapeForLog(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case 0x1b: out += "\\e"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (b < 0x20 || b >= 0x7f) {
                out += "\\x";
                out += digits[b >> 4];
                out += digits[b & 0x0f];
            } else {
                out += c;
            }
        }
    }
    return out;
}

bool parseDecimal(std::string_view text, long long max, long long& value)
{
    if (text.empty() || text.size() > 18 || (text.size() > 1 && text[0] == '0'))
        return false;
    long long v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > max)
        return false;
    value = v;
    return true;
}

std::vector<std::string> splitBlanks(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

std::string normalizeBlanks(std::string_view line)
{
    std::string out;
    for (const std::string& word : splitBlanks(line)) {
        if (!out.empty())
            out += ' ';
        out += word;
    }
    return out;
}

} // namespace kavosim
