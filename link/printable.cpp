#include "link/printable.h"

QString printable(const QByteArray &bytes, int limit)
{
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        if (limit >= 0 && out.size() >= limit) {
            out += QStringLiteral("...");
            break;
        }
        const auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\r': out += QStringLiteral("\\r"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case 0x1b: out += QStringLiteral("\\e"); break;
        case '\\': out += QStringLiteral("\\\\"); break;
        default:
            if (b < 0x20 || b >= 0x7f)
                out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
            else
                out += QLatin1Char(c);
        }
    }
    return out;
}
