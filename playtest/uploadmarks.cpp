#include "playtest/uploadmarks.h"

#include <QSettings>
#include <QStringList>

namespace UploadMarks {

namespace {

const QString Key = QStringLiteral("incompleteUploads");

QString entry(const QString &module, const QString &cardPath)
{
    return module + QLatin1Char('\n') + cardPath;
}

} // namespace

void mark(const QString &module, const QString &cardPath)
{
    QSettings s(QStringLiteral("KavoConfig"), QStringLiteral("KavoConfig"));
    QStringList marks = s.value(Key).toStringList();
    if (!marks.contains(entry(module, cardPath))) {
        marks << entry(module, cardPath);
        s.setValue(Key, marks);
    }
}

void clear(const QString &module, const QString &cardPath)
{
    QSettings s(QStringLiteral("KavoConfig"), QStringLiteral("KavoConfig"));
    QStringList marks = s.value(Key).toStringList();
    if (marks.removeAll(entry(module, cardPath)) > 0) {
        if (marks.isEmpty())
            s.remove(Key);
        else
            s.setValue(Key, marks);
    }
}

bool isMarked(const QString &module, const QString &cardPath)
{
    QSettings s(QStringLiteral("KavoConfig"), QStringLiteral("KavoConfig"));
    return s.value(Key).toStringList().contains(entry(module, cardPath));
}

} // namespace UploadMarks
