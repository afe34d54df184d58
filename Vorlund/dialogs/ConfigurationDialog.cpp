#include "ConfigurationDialog.h"

#include "AdvancedDialog.h"
#include "DialogControls.h"
#include "FieldChecks.h"
#include "FolderBrowseDialog.h"
#include "FolderRules.h"
#include "SmallDialogs.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <climits>

namespace vorlund {

namespace {

QPushButton *MakeButton(int id, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    return button;
}

QRadioButton *MakeRadio(int id, const QString &text, QWidget *parent)
{
    auto *radio = new QRadioButton(text, parent);
    radio->setObjectName(QString::number(id));
    return radio;
}

void Group(QWidget *parent, QRadioButton *a, QRadioButton *b)
{
    auto *group = new QButtonGroup(parent);
    group->addButton(a);
    group->addButton(b);
}

} // namespace

CConfiguration::CConfiguration(INotifier &notifier, QWidget *parent)
    : CIdleDlg(140, parent), m_notifier(notifier)
{
    setWindowTitle("Configuration");

    m_cameras = MakeCombo(1015, { "1", "2", "3", "4" }, this);
    m_delay = MakeNumberEdit(1000, this);
    m_switchType = MakeCombo(1102, { "External Switcher ", "4-port Card " }, this);
    m_switcherPort = MakeCombo(1010, { "1", "2", "3", "4" }, this);
    auto *cameras = new QGroupBox("Cameras", this);
    auto *cameraGrid = new QGridLayout(cameras);
    cameraGrid->addWidget(MakeLabel("Number of Cameras:", this), 0, 0);
    cameraGrid->addWidget(m_cameras, 0, 1);
    cameraGrid->addWidget(MakeLabel("Switch Type:", this, kUnnumbered), 1, 0);
    cameraGrid->addWidget(m_switchType, 1, 1);
    cameraGrid->addWidget(MakeLabel("Switch Delay (ms):", this, kUnnumbered), 2, 0);
    cameraGrid->addWidget(m_delay, 2, 1);
    cameraGrid->addWidget(MakeLabel("Switcher Com Port:", this, kUnnumbered), 3, 0);
    cameraGrid->addWidget(m_switcherPort, 3, 1);
    m_autoStart = MakeCheck(1008, "AutoStart Detection", this);
    cameraGrid->addWidget(m_autoStart, 4, 0, 1, 2);

    m_remote = MakeCheck(1042, "Allow remote viewing", this);
    m_automatic = MakeRadio(1054, "Automatic =>", this);
    m_manual = MakeRadio(1055, "Manual  => ", this);
    Group(this, m_automatic, m_manual);
    m_port = MakeNumberEdit(1040, this);
    auto *remote = new QGroupBox("Remote Viewing", this);
    auto *remoteGrid = new QGridLayout(remote);
    remoteGrid->addWidget(m_remote, 0, 0, 1, 2);
    remoteGrid->addWidget(MakeButton(1043, "Set Password", this), 0, 2);
    remoteGrid->addWidget(m_automatic, 1, 0);
    remoteGrid->addWidget(MakeButton(1057, "Credentials", this), 1, 1);
    remoteGrid->addWidget(m_manual, 2, 0);
    remoteGrid->addWidget(MakeLabel("Listen on Port:", this, 1041), 2, 1);
    remoteGrid->addWidget(m_port, 2, 2);

    m_folder = MakeTextEdit(1032, kMaxFolderBytes + 1, this);
    m_snapshotLimit = MakeNumberEdit(1034, this);
    auto *files = new QGroupBox("Video and Snapshots", this);
    auto *fileGrid = new QGridLayout(files);
    fileGrid->addWidget(MakeLabel("Video Directory:", this), 0, 0);
    fileGrid->addWidget(m_folder, 0, 1);
    fileGrid->addWidget(MakeButton(1031, "Browse", this), 0, 2);
    fileGrid->addWidget(MakeLabel("Snapshot Count:", this), 1, 0);
    fileGrid->addWidget(m_snapshotLimit, 1, 1);
    fileGrid->addWidget(MakeButton(1046, "reset", this), 1, 2);
    m_byTime = MakeRadio(1089, "New video file:", this);
    m_bySize = MakeRadio(1090, "New video file at MB:", this);
    Group(this, m_byTime, m_bySize);
    m_rolloverTime = MakeCombo(1091, { "Once", "Twice", "4 times", "Never" }, this);
    m_rolloverSize = MakeNumberEdit(1092, this);
    fileGrid->addWidget(m_byTime, 2, 0);
    fileGrid->addWidget(m_rolloverTime, 2, 1);
    fileGrid->addWidget(m_bySize, 3, 0);
    fileGrid->addWidget(m_rolloverSize, 3, 1);
    m_timestamp = MakeCheck(1098, "Video Timestamp", this);
    m_recycle = MakeCheck(1099, "Video directory size:", this);
    m_recycleSize = MakeNumberEdit(1100, this);
    fileGrid->addWidget(m_timestamp, 4, 0);
    fileGrid->addWidget(m_recycle, 5, 0);
    fileGrid->addWidget(m_recycleSize, 5, 1);

    auto *more = new QHBoxLayout;
    more->addWidget(MakeButton(1048, "Email Alert", this));
    more->addWidget(MakeButton(1073, "Advanced", this));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(cameras);
    layout->addWidget(remote);
    layout->addWidget(files);
    layout->addLayout(more);
    layout->addWidget(MakeOkCancel(this));

    const auto multi = [this] { return Values.CameraCount > 1; };
    for (int id : { kUnnumbered, 1000, 1102 })
        SetEnableRule(id, multi);
    SetEnableRule(1010, [this] { return Values.CameraCount > 1 && Values.SwitchType == 0; });
    for (int id : { 1043, 1054, 1055 })
        SetEnableRule(id, [this] { return Values.RemoteAllowed != 0; });
    for (int id : { 1040, 1041 })
        SetEnableRule(id, [this] { return Values.RemoteAllowed && m_manual->isChecked(); });
    SetEnableRule(1057, [this] { return Values.RemoteAllowed && m_automatic->isChecked(); });
    SetEnableRule(1091, [this] { return m_byTime->isChecked(); });
    SetEnableRule(1092, [this] { return m_bySize->isChecked(); });
    SetEnableRule(1100, [this] { return Values.RecycleOn != 0; });

    connect(m_cameras, &QComboBox::activated, this, [this](int selection) {
        Values.CameraCount = selection + 1;
        UpdateDialogControls();
    });
    connect(m_switchType, &QComboBox::activated, this, &CConfiguration::OnSwitchTypeChanged);
    connect(m_remote, &QCheckBox::clicked, this, &CConfiguration::OnRemoteViewingClicked);
    // The size field's rule reads the flag: it changes with the click, nothing else is read.
    connect(m_recycle, &QCheckBox::clicked, this, [this](bool on) {
        Values.RecycleOn = on;
        UpdateDialogControls();
    });
    connect(static_cast<QPushButton *>(Control(1046)), &QPushButton::clicked, this,
            [this] { Values.ResetPressed = 1; });
    const auto button = [this](int id) { return static_cast<QPushButton *>(Control(id)); };
    connect(button(1043), &QPushButton::clicked, this, &CConfiguration::OnSetPassword);
    connect(button(1048), &QPushButton::clicked, this, &CConfiguration::OnEmailAlert);
    connect(button(1057), &QPushButton::clicked, this, &CConfiguration::OnCredentials);
    connect(button(1031), &QPushButton::clicked, this, &CConfiguration::OnBrowse);
    connect(button(1073), &QPushButton::clicked, this, &CConfiguration::OnAdvanced);

    SetHelpEntry(1, "Close", "Click this button to close this menu and Save your settings.");
    SetHelpEntry(1000, "Switcher Delay",
                 "For multi-camera configurations, this is the delay\n"
                 "between camera images in milliseconds.\n"
                 "Raise it while black lines or mixed pictures\n"
                 "show in the image.\n");
    SetHelpEntry(1008, "AutoStart Vorlund",
                 "Check this to start detection and recording\n"
                 "when the program starts.\n"
                 "This is checked automatically when Vorlund\n"
                 "runs as a service.\n");
    SetHelpEntry(1010, "Switcher Com Port",
                 "This is for multi-camera configurations. Select which\n"
                 "Serial Port the switcher is connected to. (i.e. Com1 or Com2)\n");
    SetHelpEntry(1015, "Number of Cameras",
                 "Select the number of cameras.\n"
                 "More than one camera needs the external video\n"
                 "switcher or a 4-port card.\n");
    SetHelpEntry(1031, "Browse Directory",
                 "Browse to select the directory for video and\nsnapshot files.\n"
                 "All videos recorded will be in this directory.\n");
    SetHelpEntry(1032, "Video Directory",
                 "This is the directory where ALL snapshots and\nvideos will be stored.\n");
    SetHelpEntry(1034, "Snapshot Count",
                 "Take this many snapshots before starting at zero again.\n"
                 "This feature does not work for TV recording modes.\n");
    SetHelpEntry(1040, "IP Port",
                 "This is the port Vorlund listens on for viewers.\n"
                 "It is used in Manual mode only, when Vorlund-Remote\n"
                 "connects directly to this computer.\n");
    SetHelpEntry(1042, "Remote viewing",
                 "Check this to allow remote viewing. Then select\n"
                 "the mode you want to use. (Automatic or Manual)\n");
    SetHelpEntry(1043, "Set Password", "Set the password for remote viewing.");
    SetHelpEntry(1046, "Reset", "Reset the video snapshot count back to zero.");
    SetHelpEntry(1048, "Email Settings",
                 "Click this button to set up an email alert\n"
                 "that is sent when motion is detected.\n");
    SetHelpEntry(1054, "Automatic Mode",
                 "Automatic mode connects viewers through the relay.\n"
                 "No firewall or port forwarding setup is needed.\n"
                 "Click Credentials to set the login used\n"
                 "for the relay.\n");
    SetHelpEntry(1055, "Manual Mode",
                 "Manual mode lets viewers connect directly.\n"
                 "A firewall port must be opened to connect\n"
                 "over the Internet.\n");
    SetHelpEntry(1057, "Credentials",
                 "Enter login credentials required for remote viewing\n"
                 "in Automatic mode only.\n");
    SetHelpEntry(1073, "Advanced Settings", "Click this button to access Advanced settings.\n");
    SetHelpEntry(1089, "New Video File",
                 "Start a new video file every 24 hours (Once),\n"
                 "every 12 hours (Twice) or 4 times a day.\n"
                 "With Never the file grows until Stop.\n"
                 "This does not work for TV recording modes.\n");
    SetHelpEntry(1090, "New Video File",
                 "Start a new video file when the current one\n"
                 "reaches this size in MB.\n"
                 "For example, enter 100 for files of\n"
                 "about 100 MB.\n"
                 "This does not work for TV recording modes.\n");
    SetHelpEntry(1098, "Video Timestamp",
                 "Check this to write timestamps in the\nvideo recording.\n");
    SetHelpEntry(1099, "Video Directory Size",
                 "Check this to limit the total size of the video files.\n"
                 "Enter the limit in MB, for example 15000\n"
                 "for 15 GB.\n"
                 "When the video files grow beyond it, the\n"
                 "oldest files are deleted until the total\n"
                 "is under the limit.\n"
                 "This does not work for TV recording modes.\n");
    SetHelpEntry(1102, "Multi-Cam Switch Type",
                 "Select how the cameras are switched:\n"
                 "an external video switcher, or an internal\n"
                 "PCI card (example: a Conexant 4-port card).\n");

    RunNestedDialog = [this](QDialog &dialog) { return RunNested(dialog); };
}

void CConfiguration::OnInitDialog()
{
    (Values.RemoteMode == 1 ? m_manual : m_automatic)->setChecked(true);
    (Values.RolloverByTime == 1 ? m_byTime : m_bySize)->setChecked(true);
    SelectIndex(m_switcherPort, Values.SwitcherPortIndex);
    SelectIndex(m_cameras, Values.CameraCount - 1);
    SelectIndex(m_rolloverTime, Values.RolloverTimeChoice);
    SelectIndex(m_switchType, Values.SwitchType);
    m_folder->setText(FromUtf8(Values.VideoFolder));
    CIdleDlg::OnInitDialog();
}

bool CConfiguration::DoDataExchange(bool save)
{
    if (!save) {
        m_delay->setText(QString::number(Values.SwitchDelay));
        m_port->setText(QString::number(Values.ListenPort));
        m_remote->setChecked(Values.RemoteAllowed != 0);
        m_autoStart->setChecked(Values.AutoStart != 0);
        m_timestamp->setChecked(Values.Timestamp != 0);
        m_recycle->setChecked(Values.RecycleOn != 0);
        m_snapshotLimit->setText(QString::number(Values.SnapshotLimit));
        m_rolloverSize->setText(QString::number(Values.RolloverSize));
        m_recycleSize->setText(QString::number(Values.RecycleSize));
        return true;
    }
    // Only what the user can edit is checked; a disabled field keeps its value, so a stored
    // value out of today's range never makes OK unreachable.
    ConfigurationValues v = Values;
    const struct
    {
        QLineEdit *edit;
        int *value;
        int minimum, maximum;
    } numbers[] = {
        { m_delay, &v.SwitchDelay, 20, 1000 },
        { m_port, &v.ListenPort, 3, 65535 },
        { m_snapshotLimit, &v.SnapshotLimit, 1, INT_MAX },
        { m_rolloverSize, &v.RolloverSize, 1, INT_MAX },
        { m_recycleSize, &v.RecycleSize, 1, INT_MAX },
    };
    for (const auto &n : numbers) {
        if (!n.edit->isEnabled())
            continue;
        const auto value = ReadNumber(n.edit, n.minimum, n.maximum, m_notifier);
        if (!value)
            return false;
        *n.value = *value;
    }
    v.RemoteAllowed = m_remote->isChecked() ? 1 : 0;
    v.AutoStart = m_autoStart->isChecked() ? 1 : 0;
    v.Timestamp = m_timestamp->isChecked() ? 1 : 0;
    v.RecycleOn = m_recycle->isChecked() ? 1 : 0;
    Values = v;
    return true;
}

void CConfiguration::accept()
{
    // A combo with no selection keeps the stored value.
    if (m_switcherPort->currentIndex() >= 0)
        Values.SwitcherPortIndex = m_switcherPort->currentIndex();
    Values.CameraCount = m_cameras->currentIndex() + 1;
    Values.SwitchType = std::max(m_switchType->currentIndex(), 0);
    Values.AutomaticChecked = m_automatic->isChecked() ? 1 : 0;
    Values.RemoteMode = m_manual->isChecked() ? 1 : 0;
    Values.RolloverByTime = m_byTime->isChecked() ? 1 : 0;
    if (Values.RolloverByTime && m_rolloverTime->currentIndex() >= 0)
        Values.RolloverTimeChoice = m_rolloverTime->currentIndex();

    const std::string folder = StripFolderTail(ToUtf8(m_folder->text()));
    Values.VideoFolder = folder;
    if (!OfferFolderCreation(folder, m_notifier)) {
        m_folder->setFocus();
        return;
    }
    CIdleDlg::accept();
}

int CConfiguration::Nested(QDialog &dialog)
{
    const int result = RunNestedDialog(dialog);
    UpdateDialogControls();
    return result;
}

void CConfiguration::OnSwitchTypeChanged(int selection)
{
    Values.SwitchType = selection;
    Values.SwitchDelay = selection == 0 ? 150 : 100;
    // Only the delay field is reloaded; what was typed elsewhere stays.
    m_delay->setText(QString::number(Values.SwitchDelay));
    UpdateDialogControls();
}

void CConfiguration::OnRemoteViewingClicked()
{
    Values.RemoteAllowed = m_remote->isChecked() ? 1 : 0;
    UpdateDialogControls();
    if (Values.RemoteAllowed && m_manual->isChecked()) {
        CNoticeBox notice(this);
        notice.Text = std::string(kManualModeNotice);
        Nested(notice);
    }
}

void CConfiguration::OnSetPassword()
{
    CPassword dialog(m_notifier, this);
    dialog.Password = Values.Password;
    if (Nested(dialog) == QDialog::Accepted)
        Values.Password = dialog.Password;
}

void CConfiguration::OnEmailAlert()
{
    CSmtpEmail dialog(m_notifier, this);
    dialog.Values = Values.Mail;
    dialog.SendTestMail = SendTestMail;
    if (Nested(dialog) == QDialog::Accepted)
        TakeMailValues(Values, dialog.Values);
}

void CConfiguration::OnCredentials()
{
    if (!RunCredentials)
        return;
    std::string login = Values.RelayLogin;
    std::string password = Values.RelayPassword;
    if (!RunCredentials(login, password))
        return;
    // Kept here; they reach the settings only when this dialog ends with OK.
    if (!FitsField(login, kRelayTextWidth) || !FitsField(password, kRelayTextWidth)) {
        m_notifier.ShowMessage(TooLongMessage(kRelayTextWidth), kPlainCaption);
        return;
    }
    Values.RelayLogin = login;
    Values.RelayPassword = password;
}

void CConfiguration::OnBrowse()
{
    CFolderBrowseDialog dialog("Browse for Folder", "Select a directory...",
                               ToUtf8(m_folder->text()), m_notifier, this);
    if (Nested(dialog) == QDialog::Accepted)
        m_folder->setText(FromUtf8(dialog.GetPath()));
    Values.VideoFolder = ToUtf8(m_folder->text());
}

void CConfiguration::OnAdvanced()
{
    CAdvanced dialog(m_notifier, this);
    dialog.Values = AdvancedForDialog(Values);
    if (Nested(dialog) == QDialog::Accepted)
        TakeAdvancedValues(Values, dialog.Values);
}

} // namespace vorlund
