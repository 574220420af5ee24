#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// What kavoctl found out about one port.
struct PortReport {
    enum class Status { Ok, Failed, Interrupted, NotReached };

    QString port;                  // "COM3"
    Status status = Status::Ok;
    QString failure;               // why it failed, in a few words, for the summary
    QStringList errors;            // what went wrong, in the window's words
    QStringList details;           // what was found, a line each (text output)
    QJsonObject json;              // the same, for --json
    QByteArray settingsFile;       // read to standard output: the file itself

    bool ok() const { return status == Status::Ok; }
    // Records a failure; the first reason is the summary's.
    void fail(const QString &why, const QStringList &messages = {});
    void interrupted(const QStringList &messages = {});
    void detail(const QString &line) { details << line; }
    // "ok", "failed", "interrupted", "not reached".
    QString statusWord() const;
};
