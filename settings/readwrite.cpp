// Placeholder: reading and writing all settings are being written.
#include "app/frmserialdata.h"

QByteArray frmSerialData::QuerySetting(char letter)
{
    link->BufferIn.clear();
    link->SendText(QByteArrayLiteral("ST ") + letter + '\r');
    return link->WaitForPrompt();
}

bool frmSerialData::ReadAllSettings() { return true; }
void frmSerialData::cmdReadSettings_Click() {}
void frmSerialData::WriteAllSettings() {}
void frmSerialData::cmdWriteSettings_Click() {}
