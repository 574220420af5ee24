#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>

// What kavoctl found out about one port.
struct PortReport {
    QString port;                  // "COM3"
    bool ok = true;
    QString failure;               // why it failed, in a few words, for the summary
    QStringList errors;            // what went wrong, in the window's words
    QStringList details;           // what was found, a line each (text output)
    QJsonObject json;              // the same, for --json

    // Records a failure; the first reason is the summary's.
    void fail(const QString &why, const QStringList &messages = {});
    void detail(const QString &line) { details << line; }
};

// Prints the reports: text, or one JSON object per port.
class Output
{
public:
    Output(bool json, FILE *text) : m_json(json), m_text(text) {}

    // As soon as a port is done: its details (text) or its object (JSON) on the output,
    // its errors on standard error.
    void portDone(const PortReport &report);
    // At the end of the run: one summary line per port (text only).
    void summary(const QList<PortReport> &reports);

    // A message of the window (lines joined by "\r\n") as one line.
    static QString oneLine(const QString &message);

private:
    bool m_json;
    FILE *m_text;
};

void printTo(FILE *stream, const QString &text);
