// Placeholder: the setting edit handlers are being written.
#include "app/frmserialdata.h"

void frmSerialData::lstKAVOBPS_Click() {}
void frmSerialData::vscWriteTimeout_Change() {}
void frmSerialData::lstInputStyle_Click() {}
void frmSerialData::vscFileOffset_Change() {}
void frmSerialData::chkBusyIndicator_Click() {}
void frmSerialData::vscVolumeL_Change() {}
void frmSerialData::vscVolumeR_Change() {}
void frmSerialData::chkVolumeLocked_Click() {}
void frmSerialData::vscLoopCount_Change() {}
void frmSerialData::chkBassBoost_Click() {}
void frmSerialData::vscBBFreq_Change() {}
void frmSerialData::vscBBBoost_Change() {}
void frmSerialData::chkUninterrupted_Click() {}
