// File > Open Settings... and Save Settings...: the nine setting strings from and into a
// settings file. Opening only fills the controls; nothing is sent until Write. And the
// question before changed settings would be lost.
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

#include "app/frmserialdata.h"

void frmSerialData::askFileName(bool forSaving, std::function<void(const QString &path)> then)
{
    if (m_fileDialogForTesting) {
        then(m_fileDialogForTesting(forSaving));
        return;
    }
    auto *dialog = new QFileDialog(this, forSaving ? QStringLiteral("Save Settings") : QStringLiteral("Open Settings"),
                                   QString(), QString::fromLatin1(SettingsFile::DialogFilter));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (forSaving) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setDefaultSuffix(QString::fromLatin1(SettingsFile::Suffix));
    } else {
        dialog->setFileMode(QFileDialog::ExistingFile);
    }
    connect(dialog, &QFileDialog::finished, this, [dialog, then = std::move(then)](int result) {
        then(result == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString());
    });
    dialog->open();
}

void frmSerialData::mnuFileOpenSettings_Click()
{
    askFileName(false, [this](const QString &path) {
        if (!path.isEmpty() && !m_closing)
            openSettingsFile(path);
    });
}

void frmSerialData::mnuFileSaveSettings_Click()
{
    if (!m_settings->complete()) {
        ShowStatus(QStringLiteral("Nothing to save: read the settings first"));
        return;
    }
    askFileName(true, [this](const QString &path) {
        if (!path.isEmpty() && !m_closing)
            saveSettingsFile(path);
    });
}

void frmSerialData::openSettingsFile(const QString &path)
{
    const SettingsFile::Parsed parsed = SettingsFile::load(path);
    if (!parsed.ok()) {
        MsgBox(QStringLiteral("The settings were not opened:\r\n") + parsed.error);
        return;
    }
    const QString name = QFileInfo(path).fileName();
    mayDropEdits(QStringLiteral("Opening %1 puts its settings in their place").arg(name), [this, parsed, name](bool go) {
        if (!go)
            return;
        m_settings->take(parsed.strings);
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
    });
}

bool frmSerialData::saveSettingsFile(const QString &path)
{
    QString error;
    if (!SettingsFile::save(path, m_settings->strings(), &error)) {
        MsgBox(QStringLiteral("The settings were not saved:\r\n%1").arg(error));
        return false;
    }
    noteSettingsBaseline();
    ShowStatus(QStringLiteral("Settings saved to %1").arg(QFileInfo(path).fileName()));
    return true;
}

void frmSerialData::mayDropEdits(const QString &purpose, std::function<void(bool go)> then)
{
    if (m_closing || !unsavedEdits()) {
        then(true);
        return;
    }
    // Writing and saving need all nine settings; Write, a connection and no other operation.
    const bool complete = m_settings->complete();
    const bool mayWrite = complete && connected() && !operationRunning();
    const QString text = QStringLiteral("The settings in the window were changed and have not been written to the Kavo "
                                        "or saved. %1, and the changes would be lost.")
                             .arg(purpose);
    AskAboutEdits(text, mayWrite, complete, [this, then](EditsChoice choice) {
        switch (choice) {
        case EditsChoice::Write:
            if (!beginOperation(cmdWriteSettings)) {
                then(false);
                return;
            }
            WriteAllSettings([this, then](bool) {
                endOperation();
                then(!unsavedEdits());
            });
            return;
        case EditsChoice::Save:
            askFileName(true, [this, then](const QString &path) { then(!path.isEmpty() && saveSettingsFile(path)); });
            return;
        case EditsChoice::Discard:
            then(true);
            return;
        case EditsChoice::Cancel:
            then(false);
            return;
        }
    });
}
