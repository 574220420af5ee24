// Placeholder: the play test is being written.
#include "app/frmserialdata.h"

#include <QCoreApplication>

void frmSerialData::cmdPlayTest_Click() {}
bool frmSerialData::OpenDeviceFile(const QString &) { return false; }
bool frmSerialData::UploadTestFile() { return false; }
QString frmSerialData::ProgramFolder() { return QCoreApplication::applicationDirPath(); }
