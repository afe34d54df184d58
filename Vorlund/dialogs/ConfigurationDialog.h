#pragma once

#include "ConfigValues.h"
#include "IdleDlg.h"
#include "Notifier.h"
#include "Seams.h"

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace vorlund {

inline constexpr std::string_view kManualModeNotice
    = "To check your IP address, which is required to use Vorlund-Remote Manual mode... "
      "\n\nGo to this link in your Web Browser:       https://ifconfig.me "
      "\n\nYou must also allow port forwarding of the Listen on Port to this computer.";

// "Configuration": cameras and switching, auto-start, remote viewing, the video folder, new
// files, time stamp and folder size; e-mail, credentials and the advanced settings through
// nested dialogs whose values come back here and reach the settings only with this OK.
class CConfiguration : public CIdleDlg
{
public:
    explicit CConfiguration(INotifier &notifier, QWidget *parent = nullptr);

    ConfigurationValues Values;
    // The relay credentials dialog: edits the two texts, true on OK. Without it the button
    // does nothing.
    std::function<bool(std::string &login, std::string &password)> RunCredentials;
    std::function<void(const TestMailValues &)> SendTestMail;
    // Runs a nested dialog and returns its result; by default modally (tests replace it).
    std::function<int(QDialog &)> RunNestedDialog;

    void accept() override;

    void OnSwitchTypeChanged(int selection);
    void OnRemoteViewingClicked();
    void OnSetPassword();
    void OnEmailAlert();
    void OnCredentials();
    void OnBrowse();
    void OnAdvanced();

protected:
    void OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    int Nested(QDialog &dialog);

    INotifier &m_notifier;
    QLineEdit *m_delay;
    QLineEdit *m_port;
    QCheckBox *m_autoStart;
    QCheckBox *m_remote;
    QComboBox *m_cameras;
    QComboBox *m_switcherPort;
    QComboBox *m_rolloverTime;
    QComboBox *m_switchType;
    QLineEdit *m_rolloverSize;
    QLineEdit *m_folder;
    QLineEdit *m_snapshotLimit;
    QRadioButton *m_automatic;
    QRadioButton *m_manual;
    QRadioButton *m_byTime;
    QRadioButton *m_bySize;
    QCheckBox *m_timestamp;
    QCheckBox *m_recycle;
    QLineEdit *m_recycleSize;
};

} // namespace vorlund
