#pragma once

#include <QByteArray>
#include <QString>

// A module's bytes as text that is safe on any screen or terminal: printable ASCII as is,
// \r \n \t \e \\ and \xNN for every other byte; cut after `limit` characters with "..."
// (a negative limit: never cut).
QString printable(const QByteArray &bytes, int limit = -1);
// The same, appended to `out` as ASCII (for text made in bulk, such as a trace).
void appendPrintable(QByteArray &out, const QByteArray &bytes, int limit = -1);
