#include "AdvancedDialog.h"
#include "ConfigurationDialog.h"
#include "DialogControls.h"
#include "DialogsTestSupport.h"
#include "RunConfiguration.h"
#include "ServerFixture.h"
#include "SmallDialogs.h"

#include <QCheckBox>
#include <QLabel>

namespace vorlund {
namespace {

using namespace test;

class ConfigurationTest : public DialogTest
{
protected:
    ConfigurationValues Sample() const
    {
        ConfigurationValues v;
        v.SwitchDelay = 200;
        v.ListenPort = 49330;
        v.RemoteAllowed = 1;
        v.RemoteMode = 1;
        v.CameraCount = 1;
        v.SwitcherPortIndex = 0;
        v.RolloverByTime = 1;
        v.VideoFolder = temp.path.string();
        v.Password = "pw";
        v.SnapshotLimit = 6000;
        v.RelayLogin = "login";
        v.RelayPassword = "secret";
        v.Mail = { "to@example.com", "from@example.com", "smtp", 1, 0 };
        return v;
    }
    // Shows the dialog with `v`; nested dialogs go to `nested` instead of a modal loop.
    void Open(CConfiguration &dialog, const ConfigurationValues &v)
    {
        dialog.Values = v;
        dialog.RunNestedDialog = [this](QDialog &d) {
            d.show();
            const int result = nested ? nested(d) : QDialog::Rejected;
            if (d.isVisible())
                d.reject();
            return result;
        };
        dialog.show();
    }

    TempFolder temp;
    RecordingNotifier notifier;
    std::function<int(QDialog &)> nested;
};

TEST_F(ConfigurationTest, EnableRulesByCamerasSwitchTypeAndRemoteMode)
{
    const struct
    {
        int cameras, switchType, allowed, mode;
        bool delay, switcherPort, password, port, credentials;
    } cases[] = {
        { 1, 0, 1, 1, false, false, true, true, false },
        { 2, 0, 1, 0, true, true, true, false, true },
        { 4, 1, 0, 1, true, false, false, false, false },
    };
    for (const auto &c : cases) {
        CConfiguration dialog(notifier);
        ConfigurationValues v = Sample();
        v.CameraCount = c.cameras;
        v.SwitchType = c.switchType;
        v.RemoteAllowed = c.allowed;
        v.RemoteMode = c.mode;
        Open(dialog, v);
        const std::string at = std::to_string(c.cameras) + "/" + std::to_string(c.switchType);
        EXPECT_EQ(Enabled(dialog, 1000), c.delay) << at;
        EXPECT_EQ(Enabled(dialog, 1102), c.delay) << at;
        EXPECT_EQ(Enabled(dialog, kUnnumbered), c.delay) << at;
        EXPECT_EQ(Enabled(dialog, 1010), c.switcherPort) << at;
        EXPECT_EQ(Enabled(dialog, 1043), c.password) << at;
        EXPECT_EQ(Enabled(dialog, 1040), c.port) << at;
        EXPECT_EQ(Enabled(dialog, 1041), c.port) << at;
        EXPECT_EQ(Enabled(dialog, 1057), c.credentials) << at;
        dialog.reject();
    }
    // Choosing "2" cameras, then "4-port Card ": the delay follows, the port goes off, and
    // what was typed elsewhere stays.
    CConfiguration dialog(notifier);
    Open(dialog, Sample());
    Edit(dialog, 1040)->setText("5000");
    Combo(dialog, 1015)->setCurrentIndex(1);
    emit Combo(dialog, 1015)->activated(1);
    EXPECT_TRUE(Enabled(dialog, 1000));
    EXPECT_TRUE(Enabled(dialog, 1010));
    Combo(dialog, 1102)->setCurrentIndex(1);
    emit Combo(dialog, 1102)->activated(1);
    EXPECT_EQ(Edit(dialog, 1000)->text(), "100");
    EXPECT_FALSE(Enabled(dialog, 1010));
    EXPECT_EQ(Edit(dialog, 1040)->text(), "5000");
    Combo(dialog, 1102)->setCurrentIndex(0);
    emit Combo(dialog, 1102)->activated(0);
    EXPECT_EQ(Edit(dialog, 1000)->text(), "150");
    // The radios and the size box switch their fields at once.
    Button(dialog, 1090)->click();
    EXPECT_FALSE(Enabled(dialog, 1091));
    EXPECT_TRUE(Enabled(dialog, 1092));
    EXPECT_FALSE(Enabled(dialog, 1100));
    Button(dialog, 1099)->click();
    EXPECT_TRUE(Enabled(dialog, 1100));
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Values.CameraCount, 2);
    EXPECT_EQ(dialog.Values.SwitchDelay, 150);
    EXPECT_EQ(dialog.Values.ListenPort, 5000);
    EXPECT_EQ(dialog.Values.RolloverByTime, 0);
    EXPECT_EQ(dialog.Values.RecycleOn, 1);
}

TEST_F(ConfigurationTest, ValidationKeepsTheDialogOpenOnTheField)
{
    const struct
    {
        int id;
        std::string text;
        std::string message;
    } cases[] = {
        { 1000, "19", "Please enter an integer between 20 and 1000." },
        { 1000, "1001", "Please enter an integer between 20 and 1000." },
        { 1040, "2", "Please enter an integer between 3 and 65535." },
        { 1040, "65536", "Please enter an integer between 3 and 65535." },
        { 1034, "0", "Please enter an integer between 1 and 2147483647." },
        { 1034, "many", "Please enter an integer between 1 and 2147483647." },
        { 1092, "0", "Please enter an integer between 1 and 2147483647." },
        { 1100, "1.5", "Please enter an integer between 1 and 2147483647." },
    };
    for (const auto &c : cases) {
        RecordingNotifier shown;
        CConfiguration dialog(shown);
        ConfigurationValues v = Sample();
        v.CameraCount = 2;
        v.RolloverByTime = 0;
        v.RecycleOn = 1;
        Open(dialog, v);
        Edit(dialog, c.id)->setText(QString::fromStdString(c.text));
        dialog.accept();
        EXPECT_TRUE(dialog.isVisible()) << c.id << " " << c.text;
        ASSERT_EQ(shown.entries.size(), 1u) << c.id;
        EXPECT_EQ(shown.entries[0].text, c.message);
        EXPECT_EQ(dialog.focusWidget(), Edit(dialog, c.id)) << c.id;
        dialog.reject();
    }
    // Disabled fields are not checked: one camera with a stored 14 ms, relay mode with an odd
    // port, sizes of the other rollover mode.
    CConfiguration dialog(notifier);
    ConfigurationValues v = Sample();
    v.SwitchDelay = 14;
    v.RemoteMode = 0;
    v.ListenPort = 1;
    v.RolloverSize = 0;
    Open(dialog, v);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(notifier.entries.empty());
    EXPECT_EQ(dialog.Values.SwitchDelay, 14);
    EXPECT_EQ(dialog.Values.ListenPort, 1);
}

TEST_F(ConfigurationTest, FolderIsStrippedAndOneLevelCreated)
{
    const std::string fresh = (temp.path / "fresh").string();
    const std::string orphan = (temp.path / "no" / "such").string();
    const struct
    {
        std::string typed;
        bool answer;
        bool accepted;
        std::string stored;
        std::string lastMessage;
    } cases[] = {
        { temp.path.string() + "// ?*", true, true, temp.path.string(), "" },
        { fresh + "/", false, false, "", fresh + " does not exist.\nCreate it?\n" },
        { fresh + "/", true, true, fresh, fresh + " does not exist.\nCreate it?\n" },
        { orphan, true, false, "", "Failed to create directory.\nPlease select again.\n" },
    };
    for (const auto &c : cases) {
        RecordingNotifier shown;
        shown.answer = c.answer;
        CConfiguration dialog(shown);
        Open(dialog, Sample());
        Edit(dialog, 1032)->setText(QString::fromStdString(c.typed));
        dialog.accept();
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted) << c.typed;
        if (c.accepted)
            EXPECT_EQ(dialog.Values.VideoFolder, c.stored);
        else
            EXPECT_EQ(Edit(dialog, 1032)->text().toStdString(), c.typed) << "kept as typed";
        EXPECT_EQ(shown.entries.empty() ? "" : shown.entries.back().text, c.lastMessage);
        if (dialog.isVisible())
            dialog.reject();
    }
}

TEST_F(ConfigurationTest, NestedDialogsCopyBackOnlyOnOk)
{
    ConfigurationValues base = Sample();
    base.RemoteMode = 0; // the relay: Credentials is on
    // Each nested dialog changed and cancelled: nothing changes.
    nested = [](QDialog &d) {
        if (auto *mail = dynamic_cast<CSmtpEmail *>(&d))
            Edit(*mail, 1051)->setText("");
        if (auto *password = dynamic_cast<CPassword *>(&d))
            Edit(*password, 1044)->setText("new");
        if (auto *advanced = dynamic_cast<CAdvanced *>(&d))
            Button(*advanced, 1081)->click();
        d.reject();
        return int(QDialog::Rejected);
    };
    {
        CConfiguration dialog(notifier);
        dialog.RunCredentials = [](std::string &login, std::string &) {
            login = "typed";
            return false;
        };
        Open(dialog, base);
        for (int id : { 1043, 1048, 1073, 1057 })
            Button(dialog, id)->click();
        EXPECT_EQ(dialog.Values, base);
        dialog.reject();
    }
    // Now with OK: password and credentials come back; an empty To keeps the old flags;
    // Advanced with two cameras switches continuous recording off.
    nested = [](QDialog &d) {
        if (auto *mail = dynamic_cast<CSmtpEmail *>(&d)) {
            Edit(*mail, 1051)->setText("");
            Button(*mail, 1052)->click();
        }
        if (auto *password = dynamic_cast<CPassword *>(&d))
            Edit(*password, 1044)->setText("new");
        if (auto *advanced = dynamic_cast<CAdvanced *>(&d)) {
            EXPECT_FALSE(Button(*advanced, 1052)->isChecked());
            Button(*advanced, 1081)->click();
        }
        d.accept();
        return d.result();
    };
    CConfiguration dialog(notifier);
    dialog.RunCredentials = [](std::string &login, std::string &password) {
        login = "typed";
        password = std::string(52, 'p'); // wider than the stored field: refused whole
        return true;
    };
    ConfigurationValues v = base;
    v.CameraCount = 2;
    v.Advanced.Continuous = 1;
    Open(dialog, v);
    for (int id : { 1043, 1048, 1073, 1057 })
        Button(dialog, id)->click();
    EXPECT_EQ(dialog.Values.Password, "new");
    EXPECT_EQ(dialog.Values.Mail.To, "");
    EXPECT_EQ(dialog.Values.Mail.Attach, 1);
    EXPECT_EQ(dialog.Values.Mail.LowDisk, 0);
    EXPECT_EQ(dialog.Values.Advanced.Continuous, 0);
    EXPECT_EQ(dialog.Values.Advanced.DvFullSize, 1);
    EXPECT_EQ(dialog.Values.RelayLogin, "login");
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries.back().text, "Please enter no more than 51 characters.");
    dialog.RunCredentials = [](std::string &login, std::string &password) {
        login = "typed";
        password = "word";
        return true;
    };
    Button(dialog, 1057)->click();
    EXPECT_EQ(dialog.Values.RelayLogin, "typed");
    EXPECT_EQ(dialog.Values.RelayPassword, "word");
    dialog.reject();
}

TEST_F(ConfigurationTest, ResetOnlySetsTheFlagAndManualModeShowsTheNotice)
{
    std::string noticeText;
    nested = [&](QDialog &d) {
        if (auto *notice = dynamic_cast<CNoticeBox *>(&d))
            noticeText = Find<QLabel>(*notice, 1047)->text().toStdString();
        d.accept();
        return d.result();
    };
    CConfiguration dialog(notifier);
    ConfigurationValues v = Sample();
    v.RemoteAllowed = 0;
    Open(dialog, v);
    Button(dialog, 1046)->click();
    EXPECT_EQ(dialog.Values.ResetPressed, 1);
    EXPECT_TRUE(notifier.entries.empty()) << "the apply step says so";
    Button(dialog, 1042)->click();
    EXPECT_EQ(noticeText, std::string(kManualModeNotice));
    EXPECT_TRUE(Enabled(dialog, 1040));
    dialog.reject();
}

} // namespace
} // namespace vorlund

namespace vorlund {
namespace {

using RunConfigurationTest = test::DialogTest;

TEST_F(RunConfigurationTest, CancelChangesNothingAndOkAppliesAndSaves)
{
    const struct
    {
        bool ok;
        int saves; // device files written
    } cases[] = { { false, 0 }, { true, 1 } };
    for (const auto &c : cases) {
        test::ServerFixture f;
        CopyIntoEngineState(f.settings.Config, f.engine);
        f.settings.Config.RemoteMode = 0;
        ConfigEnvironment environment { f.topics, f.topics, {}, {}, {} };
        environment.RunCredentials = [](std::string &login, std::string &password) {
            login = "typed";
            password = "typed-pw";
            return true;
        };
        const DeviceConfig before = f.settings.Config;
        bool openDuringRun = false;
        const bool result
            = RunConfiguration(nullptr, f.context, environment, [&](CConfiguration &dialog) {
                  openDuringRun = f.view.ConfigurationOpen;
                  dialog.show();
                  test::Button(dialog, 1057)->click();
                  test::Button(dialog, 1046)->click();
                  test::Button(dialog, 1055)->click();
                  if (c.ok)
                      dialog.accept();
                  else
                      dialog.reject();
                  return dialog.result();
              });
        EXPECT_EQ(result, c.ok);
        EXPECT_TRUE(openDuringRun);
        EXPECT_FALSE(f.view.ConfigurationOpen);
        EXPECT_EQ(std::filesystem::exists(f.settings.SlotPath(0)), c.saves == 1);
        if (!c.ok) {
            EXPECT_EQ(f.settings.Config, before);
            EXPECT_EQ(f.topics.remoteModes, 0);
            EXPECT_TRUE(f.notifier.entries.empty()) << f.notifier.entries[0].text;
        } else {
            EXPECT_EQ(f.settings.Config.RelayLogin, "typed");
            EXPECT_EQ(f.settings.Config.RelayPassword, "typed-pw");
            EXPECT_EQ(f.settings.Config.RemoteMode, 1);
            EXPECT_EQ(f.topics.remoteModes, 1);
            EXPECT_EQ(f.notifier.entries.back().text, std::string(kCountersResetMessage));
        }
    }
}

} // namespace
} // namespace vorlund
