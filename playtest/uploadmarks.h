#pragma once

#include <QString>

// Files that an upload left incomplete on a module's card, remembered in the user's
// configuration, so that the next play test does not play them. A module is known by its
// version reply (which carries its serial number).
namespace UploadMarks {

void mark(const QString &module, const QString &cardPath);
void clear(const QString &module, const QString &cardPath);
bool isMarked(const QString &module, const QString &cardPath);

} // namespace UploadMarks
