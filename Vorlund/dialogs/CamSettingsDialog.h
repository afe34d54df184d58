#pragma once

#include "CameraSettingsApply.h"
#include "IdleDlg.h"
#include "Notifier.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTimeEdit>

#include <functional>
#include <optional>

namespace vorlund {

// The id of labels and group boxes that have none of their own.
inline constexpr int kUnnumberedId = 0xFFFF;

// A time picker that may be left empty (a window end that is not set).
class OptionalTimeEdit : public QWidget
{
public:
    OptionalTimeEdit(int id, QWidget *parent);
    void SetTime(std::optional<TimeOfDay> time);
    std::optional<TimeOfDay> Time() const;

private:
    QCheckBox *m_set;
    QTimeEdit *m_time;
};

// OK (id 1) and Cancel (id 2), wired to accept and reject.
QDialogButtonBox *OkCancel(QDialog *dialog);

// Reads whole numbers and decimals from edits the way the settings dialogs validate: out of
// range or unreadable shows the range message, puts the focus on the field and fails.
std::optional<int> ReadInteger(QLineEdit *edit, int minimum, int maximum, INotifier &notifier);
std::optional<double> ReadDecimal(QLineEdit *edit, double minimum, double maximum,
                                  INotifier &notifier);

// "Time-Lapse Settings": interval, window and picture count.
class CTimeLapse : public CIdleDlg
{
public:
    CTimeLapse(INotifier &notifier, QWidget *parent = nullptr);

    float Minutes = 1.0f;
    std::optional<TimeOfDay> From;
    std::optional<TimeOfDay> To;
    int Count = 1;

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    INotifier &m_notifier;
    QLineEdit *m_minutes;
    OptionalTimeEdit *m_from;
    OptionalTimeEdit *m_to;
    QLineEdit *m_count;
};

// "Advanced": a sensitivity per timed zone.
class CMotionAdvanced : public CIdleDlg
{
public:
    CMotionAdvanced(INotifier &notifier, QWidget *parent = nullptr);

    bool Enable = false;
    std::array<int, 4> Zones {};

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    INotifier &m_notifier;
    QCheckBox *m_enable;
    std::array<QLineEdit *, 4> m_zones {};
};

// "Camera Settings": modeless. The bars and the "Motion Distance" box post their changes at
// once (WM_LIVE_SETTING); OK and Cancel post WM_SETTINGS_CLOSED and hide the window. The
// owner fills Values before showing it and reads them when the close is handled.
class CCamSettings : public CIdleDlg
{
public:
    CCamSettings(IMessageSink &sink, INotifier &notifier, QWidget *parent = nullptr);

    CamSettingsValues Values;

    // Runs the nested dialogs (modal); tests replace it to answer them.
    std::function<int(QDialog &)> RunNestedDialog;

    void accept() override;
    void reject() override;

protected:
    bool DoDataExchange(bool saveAndValidate) override;
    void OnInitDialog() override;

private:
    void OnScroll(QScrollBar *bar, int position);
    void OnSetTimeLapse();
    void OnAdvanced();
    // With motion on and neither recording nor snapshots, the sound box stays ticked.
    void KeepSoundTicked();
    bool Checked(QCheckBox *box) const { return box->isChecked(); }

    IMessageSink &m_sink;
    INotifier &m_notifier;
    QLabel *m_camera;
    QScrollBar *m_sensitivityBar;
    QScrollBar *m_distanceBar;
    QLineEdit *m_sensitivityText;
    QLineEdit *m_distanceText;
    QCheckBox *m_motion;
    QCheckBox *m_timeLapse;
    QCheckBox *m_record;
    QCheckBox *m_snapshot;
    QCheckBox *m_sound;
    QCheckBox *m_distance;
    QCheckBox *m_mail;
    QLineEdit *m_seconds;
    QLineEdit *m_quality;
};

} // namespace vorlund
