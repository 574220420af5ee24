#pragma once

#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

#include "settings/settingsfile.h"
#include "settings/settingtable.h"

// The module's nine settings as the user sees and edits them, with their rules: the range
// of each value, the volume lock ("Same as L"), the bass boost switched off without losing
// its boost and frequency, and the setting string each one composes (what Write sends).
// A setting has no value (and no setting string) until it is read, opened from a file or
// set. The window's controls are a view of it; settings files and kavoctl use it too, so
// the same values give the same strings everywhere.
//
// Any thread may read and change it; changed() is emitted on the thread that made the
// change, after it was made.
class ModuleSettings : public QObject
{
    Q_OBJECT
public:
    explicit ModuleSettings(QObject *parent = nullptr);
    ModuleSettings(const ModuleSettings &) = delete;
    ModuleSettings &operator=(const ModuleSettings &) = delete;

    // --- what it holds ------------------------------------------------------------------
    bool has(char letter) const;
    // "ST T 20"; empty while the setting has no value.
    QString settingString(char letter) const;
    // Every setting string there is, by letter.
    SettingsFile::Strings strings() const;
    bool complete() const;
    // The names of the settings without a value, in the order Write sends them.
    QStringList missing() const;

    // D, T, S, N, H, O, U: the value (H, U: 1 or 0); nothing while unset.
    std::optional<int> value(char letter) const;
    int volumeLeft() const;
    int volumeRight() const;
    bool volumeLocked() const;
    bool bassBoostOn() const;
    int boost() const;           // dB, 0 to 15
    int frequencyStep() const;   // 0 to 15, shown as step × 10 Hz

    // --- edits, by the rules ----------------------------------------------------------
    // D, T, S, N, H, O, U; the value is clamped to the setting's range.
    void setValue(char letter, int value);
    // The left volume; while locked the right one follows.
    void setVolumeLeft(int value);
    // The right volume (ignored while locked).
    void setVolumeRight(int value);
    // Locking sets the right volume to the left one and the single-value form; unlocking
    // keeps the setting string as it is until a volume moves.
    void setVolumeLocked(bool locked);
    // Off: "ST B 0", the boost and frequency kept. On: composed from them, and off again
    // when both are 0.
    void setBassBoostOn(bool on);
    // A boost or frequency step set switches the bass boost on (off when both are 0).
    void setBoost(int dB);
    void setFrequencyStep(int step);

    // --- from the module and from files ---------------------------------------------
    // A setting the module answered. Two different volumes unlock "Same as L" (locked,
    // Write would send the left value for both and change the module's right channel);
    // one value for both leaves the lock as it is.
    void take(char letter, const SettingTable::Reading &reading);
    // A setting string (of a settings file): "ST V 7" locks the volumes, two values unlock
    // them; "ST B 0" switches the boost off and keeps the boost and frequency.
    void take(const SettingTable::Stored &stored);
    // Fills every setting from strings (a settings file's nine).
    void take(const SettingsFile::Strings &strings);
    void clear(char letter);
    void clearAll();

    // The settings as kavoctl's JSON gives them: {"letter":"V","name":"Volume",
    // "value":[20,20],"string":"ST V 20"}; nothing for an unset one.
    QJsonObject json(char letter) const;

    // --- numbers typed into the window's boxes ------------------------------------------
    enum class Field { WriteTimeout, FileOffset, VolumeLeft, VolumeRight, LoopCount, Frequency, Boost };
    struct Typed {
        bool ok = false;
        int value = 0;       // as shown: the frequency in Hz
        QString refusal;     // "Loop Count: 300 is out of range (0 to 254)"
    };
    // Checks a typed number against the field's range and step: plain decimal digits, a
    // frequency in steps of 10 Hz (45 is refused rather than rounded, so that what is
    // written is what was typed).
    static Typed checkTyped(Field field, const QString &text);
    // The highest number the field shows, and its step.
    static int highest(Field field);
    static int step(Field field);

signals:
    void changed(char letter);

private:
    struct Values {
        std::optional<int> plain[9];   // by index of SettingTable::all(): D T S N H - O - U
        bool volumeSet = false;
        int left = 0;
        int right = 0;
        bool locked = true;
        bool twoValues = false;        // the setting string names both channels
        bool bassSet = false;
        bool bassOn = false;
        int boostDb = 0;
        int step = 0;
    };
    QString stringOf(const Values &v, char letter) const;
    // Applies `edit` under the lock, then tells which settings changed.
    template <typename Edit>
    void edit(Edit &&change);

    mutable QMutex m_lock;
    Values m_values;
};
