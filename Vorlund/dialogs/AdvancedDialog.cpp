#include "AdvancedDialog.h"

#include "DialogControls.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace vorlund {

namespace {

constexpr int kAddressIds[kMaxCameras + 1] = { 0, 1029, 1062, 1086, 1087 };
constexpr int kBauds[] = { 2400, 9600, 115200 };

} // namespace

CAdvanced::WindowEnd CAdvanced::MakeWindowEnd(int id, const QString &label)
{
    // A window end may be unset: the box says whether the time counts.
    auto *holder = new QWidget(this);
    holder->setObjectName(QString::number(id));
    auto *set = new QCheckBox(label, holder);
    auto *time = new QTimeEdit(holder);
    time->setDisplayFormat("HH:mm");
    auto *row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(set);
    row->addWidget(time);
    connect(set, &QCheckBox::toggled, time, &QWidget::setEnabled);
    return { set, time };
}

CAdvanced::CAdvanced(INotifier &notifier, QWidget *parent)
    : CIdleDlg(136, parent), m_notifier(notifier)
{
    setWindowTitle("Advanced Settings");

    m_continuous = MakeCheck(1052, "Enable Continuous Recording", this);
    m_from = MakeWindowEnd(1061, "From:");
    m_to = MakeWindowEnd(1072, "To:");
    auto *recording = new QGroupBox(this);
    recording->setObjectName(QString::number(kUnnumbered));
    auto *recordingLayout = new QVBoxLayout(recording);
    recordingLayout->addWidget(Control(1061));
    recordingLayout->addWidget(Control(1072));

    m_port = MakeCombo(1010, { "1", "2", "3", "4" }, this);
    m_baud = MakeCombo(1085, { "2400", "9600", "115200" }, this);
    m_protocol = MakeCombo(1103, { "Pelco D", "Sony VISCA" }, this);
    auto *ptz = new QGroupBox("PTZ", this);
    auto *ptzGrid = new QGridLayout(ptz);
    ptzGrid->addWidget(MakeLabel("Com Port:", this, 1078), 0, 0);
    ptzGrid->addWidget(m_port, 0, 1);
    ptzGrid->addWidget(MakeLabel("Baud:", this, 1079), 0, 2);
    ptzGrid->addWidget(m_baud, 0, 3);
    ptzGrid->addWidget(m_protocol, 0, 4);
    for (int cam = 1; cam <= kMaxCameras; ++cam) {
        m_ptz[cam] = MakeCheck(1073 + cam, QString("Cam%1").arg(cam), this);
        m_address[cam] = MakeNumberEdit(kAddressIds[cam], this);
        ptzGrid->addWidget(m_ptz[cam], cam, 0);
        ptzGrid->addWidget(MakeLabel("Addr:", this), cam, 1);
        ptzGrid->addWidget(m_address[cam], cam, 2);
    }

    m_standard = MakeCombo(1083, { "NTSC", "PAL" }, this);
    m_progressive = MakeCheck(1080, "DV Progressive Frames", this);
    m_fullSize = MakeCheck(1081, "DV Full Size", this);
    m_rgb219 = MakeCheck(1082, "DV RGB219", this);
    auto *dv = new QGroupBox("DV", this);
    auto *dvLayout = new QGridLayout(dv);
    dvLayout->addWidget(MakeLabel("DV Video Standard:", this), 0, 0);
    dvLayout->addWidget(m_standard, 0, 1);
    dvLayout->addWidget(m_progressive, 1, 0, 1, 2);
    dvLayout->addWidget(m_fullSize, 2, 0, 1, 2);
    dvLayout->addWidget(m_rgb219, 3, 0, 1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_continuous);
    layout->addWidget(recording);
    layout->addWidget(ptz);
    layout->addWidget(dv);
    layout->addWidget(MakeOkCancel(this));

    const auto continuousAllowed = [this] { return Values.CameraCount == 1 && !Values.TvMode; };
    SetEnableRule(1052, continuousAllowed);
    for (int id : { 1061, 1072, kUnnumbered })
        SetEnableRule(
            id, [this, continuousAllowed] { return Values.Continuous && continuousAllowed(); });
    const auto anyPtz = [this] {
        for (int cam = 1; cam <= kMaxCameras; ++cam)
            if (Values.PtzCamera[cam])
                return true;
        return false;
    };
    for (int id : { 1010, 1085, 1103, 1078, 1079 })
        SetEnableRule(id, anyPtz);
    for (int cam = 1; cam <= kMaxCameras; ++cam)
        SetEnableRule(kAddressIds[cam], [this, cam] { return Values.PtzCamera[cam] != 0; });
    UpdateDataOnClick({ 1052, 1074, 1075, 1076, 1077 });

    SetHelpEntry(1, "Save Changes", "Click this button to save these settings.");
    SetHelpEntry(1010, "PTZ Comm Port",
                 "Select the RS232 port your PTZ camera(s) are connected to.\n"
                 "This is not the port of the video switcher.\n"
                 "Most PTZ cameras need an RS-232 to RS-422/485 adapter.\n"
                 "The camera must be set to 9600 baud, N,8,1.\n");
    SetHelpEntry(1052, "Continuous Record",
                 "Check this to record video all the time.\n"
                 "This turns off all motion detection.\n"
                 "Make sure there is ample free disk space.\n"
                 "This does not work for TV recording modes.\n");
    const QString daylight = "example, you may only want to record\nvideo during daylight hours.\n";
    SetHelpEntry(1061, "Start Time", "Enter the time to start recording. For\n" + daylight);
    SetHelpEntry(1072, "End Time", "Enter the time to stop recording. For\n" + daylight);
    for (int cam = 1; cam <= kMaxCameras; ++cam)
        SetHelpEntry(1073 + cam, QString("PTZ Camera %1").arg(cam),
                     QString("Check this box if camera %1 is a PTZ camera\n").arg(cam)
                         + "and supports the D-Protocol. For example, Pelco\n"
                           "Spectra III Series support this protocol.\n");
    SetHelpEntry(1080, "DV Progressive Frames",
                 "Check this to grab every frame of the DV source.\n"
                 "By default only alternate frames are grabbed.\n"
                 "Grabbing every frame needs more CPU.\n"
                 "Leave it unchecked on slower computers.\n");
    SetHelpEntry(1081, "DV Full Size",
                 "Check this to show the DV source at 720x480.\n"
                 "By default it is shown at 360x240.\n"
                 "Full size needs more CPU.\n");
    SetHelpEntry(1082, "DV RGB219",
                 "Check this to stop the DV Video Encoder from\n"
                 "compressing 24-bit colour into the 16-256 range.\n"
                 "This applies only when the DV Video Encoder\n"
                 "codec is selected.\n");
    SetHelpEntry(1083, "DV Video Standard",
                 "Select NTSC or PAL for your DV device.\n"
                 "This applies only when the DV Video Encoder\n"
                 "codec is selected.\n");
    SetHelpEntry(1085, "PTZ Baud",
                 "Set this to the same Baud that your PTZ camera(s)\n"
                 "are set to.\nAlso, the camera(s) must be set to: N,8,1.\n");
}

void CAdvanced::OnInitDialog()
{
    SelectIndex(m_port, Values.PtzPortIndex);
    SelectIndex(m_standard, Values.DvStandard - kDvStandardNtsc);
    int baud = -1;
    for (int i = 0; i < 3; ++i)
        if (Values.PtzBaud == kBauds[i])
            baud = i;
    SelectIndex(m_baud, baud);
    SelectIndex(m_protocol, Values.PtzProtocol);
    CIdleDlg::OnInitDialog();
}

void CAdvanced::LoadEnd(const WindowEnd &end, uint8_t hour, uint8_t minute)
{
    const bool set = IsClockTime(hour, minute);
    end.set->setChecked(set);
    end.time->setEnabled(set);
    end.time->setTime(set ? QTime(hour, minute) : QTime(0, 0));
}

void CAdvanced::SaveEnd(const WindowEnd &end, uint8_t &hour, uint8_t &minute)
{
    const QTime t = end.time->time();
    if (end.set->isChecked() && t.isValid()) {
        hour = static_cast<uint8_t>(t.hour());
        minute = static_cast<uint8_t>(t.minute());
    } else {
        hour = minute = kTimeUnset;
    }
}

bool CAdvanced::DoDataExchange(bool save)
{
    if (!save) {
        m_continuous->setChecked(Values.Continuous != 0);
        LoadEnd(m_from, Values.RecordWindow.FromHour, Values.RecordWindow.FromMinute);
        LoadEnd(m_to, Values.RecordWindow.ToHour, Values.RecordWindow.ToMinute);
        for (int cam = 1; cam <= kMaxCameras; ++cam) {
            m_ptz[cam]->setChecked(Values.PtzCamera[cam] != 0);
            m_address[cam]->setText(QString::number(Values.PtzAddress[cam]));
        }
        m_progressive->setChecked(Values.DvProgressive != 0);
        m_fullSize->setChecked(Values.DvFullSize != 0);
        m_rgb219->setChecked(Values.DvRgb219 != 0);
        return true;
    }
    // A disabled address field keeps its value: it is neither read nor checked.
    PerCamera<uint8_t> addresses = Values.PtzAddress;
    for (int cam = 1; cam <= kMaxCameras; ++cam) {
        if (!m_ptz[cam]->isChecked())
            continue;
        const auto value = ReadNumber(m_address[cam], 0, 255, m_notifier);
        if (!value)
            return false;
        addresses[cam] = static_cast<uint8_t>(*value);
    }
    Values.PtzAddress = addresses;
    Values.Continuous = m_continuous->isChecked() ? 1 : 0;
    SaveEnd(m_from, Values.RecordWindow.FromHour, Values.RecordWindow.FromMinute);
    SaveEnd(m_to, Values.RecordWindow.ToHour, Values.RecordWindow.ToMinute);
    for (int cam = 1; cam <= kMaxCameras; ++cam)
        Values.PtzCamera[cam] = m_ptz[cam]->isChecked() ? 1 : 0;
    Values.DvProgressive = m_progressive->isChecked() ? 1 : 0;
    Values.DvFullSize = m_fullSize->isChecked() ? 1 : 0;
    Values.DvRgb219 = m_rgb219->isChecked() ? 1 : 0;
    return true;
}

void CAdvanced::accept()
{
    // A combo with no selection keeps the stored value.
    if (m_port->currentIndex() >= 0)
        Values.PtzPortIndex = m_port->currentIndex();
    if (m_standard->currentIndex() >= 0)
        Values.DvStandard = m_standard->currentIndex() + kDvStandardNtsc;
    if (m_baud->currentIndex() >= 0)
        Values.PtzBaud = kBauds[m_baud->currentIndex()];
    if (m_protocol->currentIndex() >= 0)
        Values.PtzProtocol = m_protocol->currentIndex();
    CIdleDlg::accept();
}

} // namespace vorlund
