#include "CamSettingsDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <climits>
#include <cmath>

namespace vorlund {

namespace {

template <typename W> W *Named(W *widget, int id)
{
    widget->setObjectName(QString::number(id));
    return widget;
}

QLabel *Unnumbered(const QString &text, QWidget *parent)
{
    return Named(new QLabel(text, parent), kUnnumberedId);
}

QLineEdit *NumberEdit(int id, QWidget *parent)
{
    auto *edit = Named(new QLineEdit(parent), id);
    edit->setMaxLength(16);
    return edit;
}

void Refuse(QLineEdit *edit, const std::string &message, INotifier &notifier)
{
    notifier.ShowMessage(message, kPlainCaption);
    edit->setFocus();
    edit->selectAll();
}

QScrollBar *Bar(int id, int minimum, int maximum, QWidget *parent)
{
    auto *bar = Named(new QScrollBar(Qt::Horizontal, parent), id);
    bar->setRange(minimum, maximum);
    bar->setPageStep(10);
    bar->setMinimumWidth(160);
    return bar;
}

} // namespace

QDialogButtonBox *OkCancel(QDialog *dialog)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

OptionalTimeEdit::OptionalTimeEdit(int id, QWidget *parent) : QWidget(parent)
{
    setObjectName(QString::number(id));
    m_set = new QCheckBox(this);
    m_time = new QTimeEdit(this);
    m_time->setDisplayFormat("HH:mm");
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_set);
    layout->addWidget(m_time);
    connect(m_set, &QCheckBox::toggled, m_time, &QWidget::setEnabled);
}

void OptionalTimeEdit::SetTime(std::optional<TimeOfDay> time)
{
    m_set->setChecked(time.has_value());
    m_time->setEnabled(time.has_value());
    if (time)
        m_time->setTime(QTime(time->hour, time->minute));
}

std::optional<TimeOfDay> OptionalTimeEdit::Time() const
{
    if (!m_set->isChecked())
        return std::nullopt;
    const QTime t = m_time->time();
    return TimeOfDay { t.hour(), t.minute() };
}

std::optional<int> ReadInteger(QLineEdit *edit, int minimum, int maximum, INotifier &notifier)
{
    bool ok = false;
    const qlonglong value = edit->text().trimmed().toLongLong(&ok);
    if (ok && value >= minimum && value <= maximum)
        return int(value);
    Refuse(edit,
           "Please enter an integer between " + std::to_string(minimum) + " and "
               + std::to_string(maximum) + ".",
           notifier);
    return std::nullopt;
}

std::optional<double> ReadDecimal(QLineEdit *edit, double minimum, double maximum,
                                  INotifier &notifier)
{
    bool ok = false;
    const double value = edit->text().trimmed().toDouble(&ok);
    if (ok && std::isfinite(value) && value >= minimum && value <= maximum)
        return value;
    Refuse(edit,
           "Please enter a number between " + QString::number(minimum).toStdString() + " and "
               + QString::number(maximum).toStdString() + ".",
           notifier);
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------

CTimeLapse::CTimeLapse(INotifier &notifier, QWidget *parent)
    : CIdleDlg(122, parent), m_notifier(notifier)
{
    setWindowTitle("Time-Lapse Settings");
    const QTime now = QTime::currentTime();
    From = To = TimeOfDay { now.hour(), now.minute() };
    m_minutes = NumberEdit(1029, this);
    m_from = new OptionalTimeEdit(1060, this);
    m_to = new OptionalTimeEdit(1061, this);
    m_count = NumberEdit(1062, this);

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel("From:", this), 0, 0);
    grid->addWidget(m_from, 0, 1);
    grid->addWidget(new QLabel("To:", this), 1, 0);
    grid->addWidget(m_to, 1, 1);
    grid->addWidget(new QLabel("Every", this), 2, 0);
    grid->addWidget(m_minutes, 2, 1);
    grid->addWidget(new QLabel("minutes  (0.01 - 999)", this), 2, 2);
    grid->addWidget(new QLabel("Take ", this), 3, 0);
    grid->addWidget(m_count, 3, 1);
    grid->addWidget(new QLabel("pictures before rollover.", this), 3, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Select the time window and frequency for time-lapse.", this));
    layout->addLayout(grid);
    layout->addWidget(OkCancel(this));

    const QString window = "example, you may only want to take time-lapse\npictures when it's "
                           "light out.\n";
    SetHelpEntry(1, "Save Changes", "Click this button to save these settings.");
    SetHelpEntry(1029, "Interval",
                 "Enter the interval to take pictures. Enter a\ndecimal value for fractions of a "
                 "minute.\n");
    SetHelpEntry(1060, "Start Time", "Enter the time to start taking snapshots. For\n" + window);
    SetHelpEntry(1061, "End Time", "Enter the time to stop taking snapshots. For\n" + window);
    SetHelpEntry(1062, "Picture count",
                 "Enter the total number of pictures to take before\nreturning to 0,1,2,3,etc.\n");
}

bool CTimeLapse::DoDataExchange(bool save)
{
    if (!save) {
        m_minutes->setText(QString::number(double(Minutes)));
        m_from->SetTime(From);
        m_to->SetTime(To);
        m_count->setText(QString::number(Count));
        return true;
    }
    const std::optional<double> minutes = ReadDecimal(m_minutes, 0.01, 999.0, m_notifier);
    if (!minutes)
        return false;
    // Any whole number: a count of 0 or less is ignored when the settings are applied.
    const std::optional<int> count = ReadInteger(m_count, INT_MIN, INT_MAX, m_notifier);
    if (!count)
        return false;
    Minutes = float(*minutes);
    From = m_from->Time();
    To = m_to->Time();
    Count = *count;
    return true;
}

// ---------------------------------------------------------------------------------------------

CMotionAdvanced::CMotionAdvanced(INotifier &notifier, QWidget *parent)
    : CIdleDlg(138, parent), m_notifier(notifier)
{
    setWindowTitle("Advanced");
    m_enable = Named(new QCheckBox("Enable ", this), 1052);
    auto *grid = new QGridLayout;
    const int ids[4] = { 1029, 1062, 1086, 1087 };
    for (int z = 0; z < 4; ++z) {
        m_zones[size_t(z)] = NumberEdit(ids[z], this);
        grid->addWidget(new QLabel(QString("Zone %1:").arg(z + 1), this), z, 0);
        grid->addWidget(m_zones[size_t(z)], z, 1);
        SetEnableRule(ids[z], [this] { return IsDlgButtonChecked(1052); });
    }
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("This dialog allows you to set a different motion detection "
                                 "sensitivity for each timed zone.",
                                 this));
    layout->addWidget(m_enable);
    layout->addLayout(grid);
    layout->addWidget(OkCancel(this));
}

bool CMotionAdvanced::DoDataExchange(bool save)
{
    if (!save) {
        m_enable->setChecked(Enable);
        for (size_t z = 0; z < 4; ++z)
            m_zones[z]->setText(QString::number(Zones[z]));
        return true;
    }
    std::array<int, 4> zones = Zones;
    // The values only count while per-zone sensitivity is on.
    if (m_enable->isChecked()) {
        for (size_t z = 0; z < 4; ++z) {
            const std::optional<int> v
                = ReadInteger(m_zones[z], kMinZoneSensitivity, kMaxZoneSensitivity, m_notifier);
            if (!v)
                return false;
            zones[z] = *v;
        }
    }
    Enable = m_enable->isChecked();
    Zones = zones;
    return true;
}

// ---------------------------------------------------------------------------------------------

CCamSettings::CCamSettings(IMessageSink &sink, INotifier &notifier, QWidget *parent)
    : CIdleDlg(kCamSettingsTemplate, parent), m_sink(sink), m_notifier(notifier)
{
    setWindowTitle("Camera Settings");
    setModal(false);
    RunNestedDialog = [this](QDialog &nested) { return RunNested(nested); };

    m_camera = Named(new QLabel("Camera 1", this), 1011);
    m_motion = Named(new QCheckBox("Enable Motion Detection", this), 1018);
    m_timeLapse = Named(new QCheckBox("Enable Time-Lapse", this), 1052);
    auto *set = Named(new QPushButton("Set", this), 1059);
    m_record = Named(new QCheckBox("Record", this), 1020);
    m_seconds = NumberEdit(1015, this);
    m_snapshot = Named(new QCheckBox("Take a snapshot when motion is detected", this), 1021);
    m_quality = NumberEdit(1038, this);
    m_mail = Named(new QCheckBox("Send an email", this), 1050);
    m_sound = Named(new QCheckBox("Play sound when motion is detected", this), 1025);
    m_sensitivityText = NumberEdit(1013, this);
    m_sensitivityBar = Bar(1014, kSensitivityBarMin, kSensitivityBarMax, this);
    m_distance = Named(new QCheckBox("Motion Distance", this), 1069);
    m_distanceBar = Bar(1070, kDistanceBarMin, kDistanceBarMax, this);
    m_distanceText = NumberEdit(1071, this);
    auto *advanced = Named(new QPushButton("Advanced", this), 1097);
    // Only the bars produce values.
    m_sensitivityText->setReadOnly(true);
    m_distanceText->setReadOnly(true);

    auto *video = Named(new QGroupBox("Video Recording", this), kUnnumberedId);
    auto *videoGrid = new QGridLayout(video);
    videoGrid->addWidget(m_record, 0, 0, 1, 2);
    videoGrid->addWidget(m_seconds, 1, 0);
    videoGrid->addWidget(Named(new QLabel("seconds of video when motion is detected", this), 1023),
                         1, 1);
    auto *snaps = Named(new QGroupBox("Snapshots", this), kUnnumberedId);
    auto *snapGrid = new QGridLayout(snaps);
    snapGrid->addWidget(m_snapshot, 0, 0, 1, 2);
    snapGrid->addWidget(m_quality, 1, 0);
    snapGrid->addWidget(Named(new QLabel("% snapshot quality", this), 1039), 1, 1);
    snapGrid->addWidget(m_mail, 2, 0, 1, 2);
    auto *sound = Named(new QGroupBox("Sound", this), kUnnumberedId);
    auto *soundBox = new QVBoxLayout(sound);
    soundBox->addWidget(m_sound);

    auto *sensitivity = new QGridLayout;
    sensitivity->addWidget(Unnumbered("Sensitivity:", this), 0, 0);
    sensitivity->addWidget(m_sensitivityText, 0, 1);
    sensitivity->addWidget(Unnumbered("high", this), 1, 0);
    sensitivity->addWidget(m_sensitivityBar, 1, 1);
    sensitivity->addWidget(Unnumbered("low", this), 1, 2);
    sensitivity->addWidget(m_distance, 2, 0);
    sensitivity->addWidget(m_distanceText, 2, 1);
    sensitivity->addWidget(Named(new QLabel("far", this), 1095), 3, 0);
    sensitivity->addWidget(m_distanceBar, 3, 1);
    sensitivity->addWidget(Named(new QLabel("near", this), 1096), 3, 2);
    sensitivity->addWidget(advanced, 4, 1);

    auto *timeLapse = new QHBoxLayout;
    timeLapse->addWidget(m_timeLapse);
    timeLapse->addWidget(set);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_camera);
    layout->addWidget(m_motion);
    layout->addWidget(video);
    layout->addWidget(snaps);
    layout->addWidget(sound);
    layout->addLayout(sensitivity);
    layout->addLayout(timeLapse);
    layout->addWidget(OkCancel(this));

    const auto motion = [this] { return Checked(m_motion); };
    for (int id : { 1020, 1021, 1025, 1013, 1014, 1069, 1097, kUnnumberedId })
        SetEnableRule(id, motion);
    SetEnableRule(1059, [this] { return Checked(m_timeLapse); });
    for (int id : { 1015, 1023 })
        SetEnableRule(id, [this] { return Checked(m_motion) && Checked(m_record); });
    for (int id : { 1038, 1039 })
        SetEnableRule(id, [this] { return Checked(m_motion) && Checked(m_snapshot); });
    SetEnableRule(
        1050, [this] { return Checked(m_motion) && Values.mailConfigured && Checked(m_snapshot); });
    for (int id : { 1070, 1071, 1095, 1096 })
        SetEnableRule(id, [this] { return Checked(m_motion) && Checked(m_distance); });

    // Clicks and scrolls read no other field, so an unreadable one never interrupts them.
    for (QCheckBox *box : { m_motion, m_record, m_snapshot, m_sound })
        connect(box, &QCheckBox::toggled, this, [this] { KeepSoundTicked(); });
    connect(m_sensitivityBar, &QScrollBar::valueChanged, this,
            [this](int p) { OnScroll(m_sensitivityBar, p); });
    connect(m_distanceBar, &QScrollBar::valueChanged, this,
            [this](int p) { OnScroll(m_distanceBar, p); });
    connect(m_distance, &QCheckBox::clicked, this, [this](bool on) {
        m_sink.PostMessage(WM_LIVE_SETTING,
                           PackLiveSetting({ LiveSetting::MotionDistanceOnOff,
                                             uint8_t(Values.camera), 0, on ? 1 : 0 }));
    });
    connect(set, &QPushButton::clicked, this, &CCamSettings::OnSetTimeLapse);
    connect(advanced, &QPushButton::clicked, this, &CCamSettings::OnAdvanced);

    const QString live = "You can adjust this setting while viewing live images, just\ndrag this "
                         "menu to the side so you can see the results as you\nadjust this "
                         "setting.";
    SetHelpEntry(1, "Save Changes", "Click this button to save these settings.");
    SetHelpEntry(1014, "Motion Sensitivity setting",
                 "Increase or decrease the motion sensitivity for this camera.\n" + live
                     + "\nMoving the bar to the right will decrease sensitivity (low).\n\nNote: "
                       "You can set a different sensitivity for each of the 4 timed-zones.\nFor "
                       "example, maybe you want more sensitivity when it is dark.\n");
    SetHelpEntry(1015, "Video length Per Motion",
                 "Enter the number of seconds to record video after\nmotion is detected. 1 "
                 "second is usually sufficient.\n");
    SetHelpEntry(1018, "Enable Cam",
                 "Check this box to enable motion detection for\nthis camera.\n");
    SetHelpEntry(1020, "Enable Video",
                 "Check this box to enable video recording for\nthis camera.\n");
    SetHelpEntry(1021, "Enable Snapshots",
                 "Check this box to take snapshots (JPEGs) when motion\nis detected.\n");
    SetHelpEntry(1025, "Play sound",
                 "Play a sound every time motion is detected for this camera.\nYou can create "
                 "your own custom sound by creating an audio wave\nfile. The name of the file "
                 "must be snap.wav and be in the Vorlund\ndirectory. See Windows Sound Recorder "
                 "for more information.\n");
    SetHelpEntry(1038, "Snapshot Quality",
                 "Snapshot quality for the JPEG images. 50% is sufficient.\n");
    SetHelpEntry(1050, "Send Email",
                 "Check this box to send an email when motion is detected.\nNote: you must "
                 "already have configured your email settings.\nTo do this, open the "
                 "Configuration menu and select Email Alert.\n");
    SetHelpEntry(1052, "Enable Time-Lapse",
                 "Check this box to enable time-lapse recording for\nthis camera. With "
                 "time-lapse you can have a picture\ntaken every few minutes. Watch a flower "
                 "grow, for example.\n");
    SetHelpEntry(1069, "Motion Distance",
                 "Check this box to enable motion distance detection.\nFor example, use this "
                 "feature if you want only objects\nwhich are near the camera to trigger motion "
                 "detection recording.\n");
    SetHelpEntry(1070, "Motion Distance Sensitivity setting",
                 "Objects near or far will trigger motion detection.\n" + live + "\n");
}

void CCamSettings::OnInitDialog()
{
    m_camera->setText(QString::fromStdString(Values.Label()));
    UpdateData(false);
}

bool CCamSettings::DoDataExchange(bool save)
{
    if (!save) {
        // Filling the controls is no user change: nothing is posted.
        const QSignalBlocker b1(m_sensitivityBar);
        const QSignalBlocker b2(m_distanceBar);
        m_sensitivityBar->setValue(Values.sensitivity);
        m_distanceBar->setValue(Values.distance);
        m_sensitivityText->setText(QString::number(Values.sensitivity));
        m_distanceText->setText(QString::number(Values.distance));
        m_motion->setChecked(Values.motionEnabled);
        m_timeLapse->setChecked(Values.timeLapseEnabled);
        m_record->setChecked(Values.record);
        m_snapshot->setChecked(Values.snapshot);
        m_sound->setChecked(Values.sound);
        m_distance->setChecked(Values.distanceEnabled);
        m_mail->setChecked(Values.mail);
        m_seconds->setText(QString::number(Values.recordSeconds));
        m_quality->setText(QString::number(Values.snapshotQuality));
        KeepSoundTicked();
        return true;
    }
    const std::optional<int> seconds
        = ReadInteger(m_seconds, kMinRecordSeconds, kMaxRecordSeconds, m_notifier);
    if (!seconds)
        return false;
    const std::optional<int> quality
        = ReadInteger(m_quality, kMinJpegQuality, kMaxJpegQuality, m_notifier);
    if (!quality)
        return false;
    Values.recordSeconds = *seconds;
    Values.snapshotQuality = *quality;
    Values.motionEnabled = m_motion->isChecked();
    Values.timeLapseEnabled = m_timeLapse->isChecked();
    Values.record = m_record->isChecked();
    Values.snapshot = m_snapshot->isChecked();
    Values.sound = m_sound->isChecked();
    Values.distanceEnabled = m_distance->isChecked();
    Values.mail = m_mail->isChecked();
    Values.sensitivity = m_sensitivityBar->value();
    Values.distance = m_distanceBar->value();
    return true;
}

void CCamSettings::KeepSoundTicked()
{
    if (m_motion->isChecked() && !m_record->isChecked() && !m_snapshot->isChecked())
        m_sound->setChecked(true);
}

void CCamSettings::OnScroll(QScrollBar *bar, int p)
{
    const uint8_t camera = uint8_t(Values.camera);
    if (bar == m_distanceBar) {
        m_distanceText->setText(QString::number(p));
        m_sink.PostMessage(WM_LIVE_SETTING,
                           PackLiveSetting({ LiveSetting::MotionDistance, camera, 0, p & 0xFF }));
        return;
    }
    m_sensitivityText->setText(QString::number(p));
    m_sink.PostMessage(WM_LIVE_SETTING,
                       PackLiveSetting({ LiveSetting::Sensitivity, camera, uint8_t(p), 0 }));
    if (Values.currentZone >= 1 && Values.currentZone <= 4)
        Values.zoneSensitivity[size_t(Values.currentZone - 1)] = p;
}

void CCamSettings::OnSetTimeLapse()
{
    CTimeLapse dialog(m_notifier, this);
    dialog.From = WindowStart(Values.timeLapseWindow);
    dialog.To = WindowEnd(Values.timeLapseWindow);
    dialog.Minutes = Values.timeLapseMinutes;
    dialog.Count = Values.timeLapseLimit;
    if (RunNestedDialog(dialog) != QDialog::Accepted)
        return;
    Values.timeLapseLimit = dialog.Count;
    Values.timeLapseMinutes = dialog.Minutes;
    Values.timeLapseWindow = MakeWindow(dialog.From, dialog.To);
}

void CCamSettings::OnAdvanced()
{
    CMotionAdvanced dialog(m_notifier, this);
    dialog.Enable = Values.zoneSensitivityEnabled;
    dialog.Zones = Values.zoneSensitivity;
    if (RunNestedDialog(dialog) != QDialog::Accepted)
        return;
    Values.zoneSensitivityEnabled = dialog.Enable;
    if (!dialog.Enable)
        return;
    Values.zoneSensitivity = dialog.Zones;
    // The bar shows the current zone's value; the engine takes it when OK applies.
    if (Values.currentZone >= 1 && Values.currentZone <= 4) {
        const int p = Values.zoneSensitivity[size_t(Values.currentZone - 1)];
        const QSignalBlocker block(m_sensitivityBar);
        m_sensitivityBar->setValue(p);
        m_sensitivityText->setText(QString::number(p));
    }
}

void CCamSettings::accept()
{
    if (!UpdateData(true))
        return;
    m_sink.PostMessage(WM_SETTINGS_CLOSED,
                       PackSettingsClosed(kCamSettingsTemplate, CloseOutcome::Ok, Values.camera));
    QDialog::accept();
}

void CCamSettings::reject()
{
    m_sink.PostMessage(
        WM_SETTINGS_CLOSED,
        PackSettingsClosed(kCamSettingsTemplate, CloseOutcome::Cancel, Values.camera));
    QDialog::reject();
}

} // namespace vorlund
