#include "link/printable.h"

void appendPrintable(QByteArray &out, const QByteArray &bytes, int limit)
{
    static const char hex[] = "0123456789abcdef";
    const qsizetype start = out.size();
    out.reserve(start + bytes.size());
    for (const char c : bytes) {
        if (limit >= 0 && out.size() - start >= limit) {
            out += "...";
            break;
        }
        const auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case 0x1b: out += "\\e"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (b < 0x20 || b >= 0x7f) {
                const char escape[4] = {'\\', 'x', hex[b >> 4], hex[b & 15]};
                out.append(escape, 4);
            } else {
                out += c;
            }
        }
    }
}

QString printable(const QByteArray &bytes, int limit)
{
    QByteArray out;
    appendPrintable(out, bytes, limit);
    return QString::fromLatin1(out);
}
