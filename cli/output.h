#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>

#include "cli/report.h"

class QJsonObject;

// Everything kavoctl prints, from any thread: whole lines only, each naming its port, in
// the order they were printed across standard output and standard error. Text from a
// module never reaches the terminal as control codes: they are shown escaped. Every write
// is checked; one that fails makes the run fail.
class Output
{
public:
    // `json`: one object per port on standard output instead of text. `settingsOnStdout`:
    // standard output carries settings files, so the text lines go to standard error.
    Output(bool json, bool settingsOnStdout);

    // A port's outcome as soon as it is done: its errors on standard error, then its
    // details (text), its settings file or its object (JSON).
    void portDone(const PortReport &report);
    // "kavoctl: <text>" on standard error.
    void note(const QString &text);
    // A line of its own on the text stream (the ports' list).
    void line(const QString &text);
    // A line of its own on standard error, as it is (a trace's).
    void errorLine(const QString &text);
    // A JSON object of its own on standard output.
    void object(const QJsonObject &object);
    // A status text as it comes (-v): "COM3: <text>" on standard error.
    void status(const QString &port, const QString &text);
    // An upload's progress: on a terminal one line per port, redrawn in place; elsewhere
    // a plain line at every quarter.
    void progress(const QString &port, const QString &what, qint64 done, qint64 total);
    void progressEnded(const QString &port);
    // One line per port, in the order given, at the end (text only).
    void summary(const QList<PortReport> &reports);

    // A write failed: what and why, for the run's end.
    bool failed() const;
    QString failure() const;

    // A module's text made safe for a terminal: control characters (and the ones that
    // act as controls on a terminal, 0x7f to 0x9f) as escapes, "\e" for ESC.
    static QString safe(const QString &text);
    // A message of the window (lines joined by "\r\n") as one line.
    static QString oneLine(const QString &message);

private:
    enum Stream { Out, Err };
    // Under the lock: writes whole lines; the progress lines go out of the way first.
    void emitLines(Stream stream, const QByteArray &bytes);
    bool writeRaw(Stream stream, const QByteArray &bytes);
    void clearBoard();
    void drawBoard();

    mutable QMutex m_lock;
    bool m_json;
    Stream m_text;            // where text lines go
    bool m_errTerminal = false;
    bool m_outTerminal = false;
    QString m_failure;

    struct Progress {
        QString line;
        int quarter = -1;     // the last quarter printed as a plain line
    };
    QMap<QString, Progress> m_progress;   // by port, while an upload runs
    QStringList m_boardOrder;             // ports on the board, in the order they began
    int m_boardLines = 0;                 // lines the board takes on the terminal now
    QElapsedTimer m_drawn;
};
