// File > Open Settings... and Save Settings...: the nine setting strings from and into a
// settings file. Opening only fills the controls; nothing is sent until Write.
#include "app/frmserialdata.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

QString frmSerialData::askFileName(bool forSaving)
{
    if (fileDialogForTesting)
        return fileDialogForTesting(forSaving);
    const QString filter = QString::fromLatin1(SettingsFile::DialogFilter);
    if (!forSaving)
        return QFileDialog::getOpenFileName(this, QStringLiteral("Open Settings"), QString(), filter);
    QFileDialog dialog(this, QStringLiteral("Save Settings"), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QString::fromLatin1(SettingsFile::Suffix));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

void frmSerialData::mnuFileOpenSettings_Click()
{
    const QString path = askFileName(false);
    if (!path.isEmpty())
        openSettingsFile(path);
}

void frmSerialData::mnuFileSaveSettings_Click()
{
    if (settingStrings().size() != int(SettingTable::all().size())) {
        ShowStatus(QStringLiteral("Nothing to save: read the settings first"));
        return;
    }
    const QString path = askFileName(true);
    if (!path.isEmpty())
        saveSettingsFile(path);
}

bool frmSerialData::openSettingsFile(const QString &path)
{
    const SettingsFile::Parsed parsed = SettingsFile::load(path);
    if (!parsed.ok()) {
        MsgBox(QStringLiteral("The settings were not opened:\r\n") + parsed.error);
        return false;
    }
    const QString name = QFileInfo(path).fileName();
    if (!mayDropEdits(QStringLiteral("Opening %1 puts its settings in their place").arg(name)))
        return false;
    for (const SettingTable::Setting &s : SettingTable::all())
        if (const auto stored = SettingTable::parseSettingString(parsed.strings.value(s.letter), nullptr))
            putIntoControls(*stored);
    // Opened before connecting, the file is meant for the module that Open finds next.
    if (connected())
        m_settingsFromFile.clear();
    else
        m_settingsFromFile = name;
    noteSettingsBaseline();
    updateButtons();
    ShowStatus(connected() ? QStringLiteral("Settings opened from %1; press Write to store them in the Kavo").arg(name)
                           : QStringLiteral("Settings opened from %1; Open keeps them for the Kavo it finds, then "
                                            "press Write to store them")
                                 .arg(name));
    return true;
}

bool frmSerialData::saveSettingsFile(const QString &path)
{
    QString error;
    if (!SettingsFile::save(path, settingStrings(), &error)) {
        MsgBox(QStringLiteral("The settings were not saved to %1:\r\n%2").arg(path, error));
        return false;
    }
    noteSettingsBaseline();
    ShowStatus(QStringLiteral("Settings saved to %1").arg(QFileInfo(path).fileName()));
    return true;
}

bool frmSerialData::mayDropEdits(const QString &purpose)
{
    if (m_closing || !unsavedEdits())
        return true;
    // Writing and saving need all nine settings.
    const bool complete = settingStrings().size() == int(SettingTable::all().size());
    const bool mayWrite = complete && connected() && !operationRunning();
    const QString text = QStringLiteral("The settings in the window were changed and have not been written to the Kavo "
                                        "or saved. %1, and the changes would be lost.")
                             .arg(purpose);
    switch (AskAboutEdits(text, mayWrite, complete)) {
    case EditsChoice::Write: {
        OperationGuard operation(this, cmdWriteSettings);
        if (operation.acquired())
            WriteAllSettings();
        return !unsavedEdits();
    }
    case EditsChoice::Save: {
        const QString path = askFileName(true);
        return !path.isEmpty() && saveSettingsFile(path);
    }
    case EditsChoice::Discard:
        return true;
    case EditsChoice::Cancel:
        break;
    }
    return false;
}
