#pragma once

#include <QFile>
#include <QString>
#include <memory>

// A local file to send to the card, opened once and judged by what was opened: a regular
// file (or a link to one) of 1 to 2147483647 bytes that can be read. A named pipe or a
// device is not opened for good (it would block or never end), and nothing can swap the
// file between a look and the upload.
namespace LocalFile {

// The file, open for reading; nothing, with `problem` set to the message for the user,
// when it cannot be sent. `what` words it ("test file", "file").
std::unique_ptr<QFile> open(const QString &path, const QString &what, QString *problem);

} // namespace LocalFile
