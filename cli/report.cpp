#include "cli/report.h"

#include <QJsonArray>
#include <QJsonDocument>

void printTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void PortReport::fail(const QString &why, const QStringList &messages)
{
    if (ok)
        failure = why;
    ok = false;
    for (const QString &m : messages)
        errors << Output::oneLine(m);
}

QString Output::oneLine(const QString &message)
{
    QString line = message;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

void Output::portDone(const PortReport &report)
{
    for (const QString &error : report.errors)
        printTo(stderr, QStringLiteral("kavoctl: %1: %2\n").arg(report.port, error));
    if (m_json) {
        QJsonObject object = report.json;
        object.insert(QStringLiteral("port"), report.port);
        object.insert(QStringLiteral("ok"), report.ok);
        if (!report.ok) {
            object.insert(QStringLiteral("failure"), report.failure);
            object.insert(QStringLiteral("errors"), QJsonArray::fromStringList(report.errors));
        }
        printTo(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        return;
    }
    for (const QString &line : report.details)
        printTo(m_text, QStringLiteral("%1: %2\n").arg(report.port, line));
}

void Output::summary(const QList<PortReport> &reports)
{
    if (m_json)
        return;
    for (const PortReport &r : reports)
        printTo(m_text, r.ok ? QStringLiteral("%1: ok\n").arg(r.port)
                             : QStringLiteral("%1: failed: %2\n").arg(r.port, r.failure));
}
