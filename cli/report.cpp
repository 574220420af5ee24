#include "cli/report.h"

void PortReport::fail(const QString &why, const QStringList &messages)
{
    if (status == Status::Ok) {
        status = Status::Failed;
        failure = why;
    }
    errors << messages;
}

void PortReport::interrupted(const QStringList &messages)
{
    status = Status::Interrupted;
    failure = QStringLiteral("interrupted");
    errors << messages;
}

QString PortReport::statusWord() const
{
    switch (status) {
    case Status::Ok: return QStringLiteral("ok");
    case Status::Failed: return QStringLiteral("failed");
    case Status::Interrupted: return QStringLiteral("interrupted");
    case Status::NotReached: return QStringLiteral("not reached");
    }
    return QString();
}
