#include "SmallDialogs.h"
#include "AdvancedDialog.h"
#include "DialogsTestSupport.h"
#include "FolderBrowseDialog.h"
#include "ServerFixture.h"

#include <QCheckBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>
#include <QTreeView>

namespace vorlund {
namespace {

using namespace test;

AdvancedValues SampleAdvanced()
{
    AdvancedValues a;
    a.Continuous = 1;
    a.RecordWindow = { 6, 30, kTimeUnset, kTimeUnset };
    a.PtzPortIndex = 1;
    a.PtzBaud = 9600;
    a.PtzProtocol = 1;
    a.DvStandard = kDvStandardPal;
    a.PtzCamera = { 0, 1, 0, 1, 0 };
    a.PtzAddress = { 0, 11, 12, 13, 14 };
    a.DvFullSize = 1;
    return a;
}

using AdvancedTest = DialogTest;

TEST_F(AdvancedTest, CopyInCopyBackAndCancel)
{
    RecordingNotifier notifier;
    {
        CAdvanced dialog(notifier);
        dialog.Values = SampleAdvanced();
        dialog.show();
        EXPECT_TRUE(Button(dialog, 1052)->isChecked());
        EXPECT_EQ(Combo(dialog, 1010)->currentIndex(), 1);
        EXPECT_EQ(Combo(dialog, 1085)->currentIndex(), 1);
        EXPECT_EQ(Combo(dialog, 1103)->currentIndex(), 1);
        EXPECT_EQ(Combo(dialog, 1083)->currentText(), "PAL");
        EXPECT_EQ(Edit(dialog, 1086)->text(), "13");
        // Changes then Cancel: the caller reads nothing back.
        Button(dialog, 1081)->click();
        dialog.reject();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    CAdvanced dialog(notifier);
    dialog.Values = SampleAdvanced();
    dialog.show();
    auto *from = Find<QWidget>(dialog, 1061)->findChild<QTimeEdit *>();
    auto *toBox = Find<QWidget>(dialog, 1072)->findChild<QCheckBox *>();
    auto *toTime = Find<QWidget>(dialog, 1072)->findChild<QTimeEdit *>();
    EXPECT_EQ(from->time(), QTime(6, 30));
    EXPECT_FALSE(toBox->isChecked()) << "255 is an unset end";
    toBox->setChecked(true);
    toTime->setTime(QTime(18, 5));
    Combo(dialog, 1085)->setCurrentIndex(2);
    Edit(dialog, 1086)->setText("200");
    Button(dialog, 1082)->click();
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    AdvancedValues expected = SampleAdvanced();
    expected.RecordWindow = { 6, 30, 18, 5 };
    expected.PtzBaud = 115200;
    expected.PtzAddress[3] = 200;
    expected.DvRgb219 = 1;
    EXPECT_EQ(dialog.Values, expected);
    EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(AdvancedTest, EnableRules)
{
    RecordingNotifier notifier;
    const struct
    {
        int cameras, tv, continuous;
        bool continuousBox, window;
    } cases[] = {
        { 1, 0, 1, true, true },
        { 1, 0, 0, true, false },
        { 2, 0, 1, false, false },
        { 1, 1, 1, false, false },
    };
    for (const auto &c : cases) {
        CAdvanced dialog(notifier);
        dialog.Values.CameraCount = c.cameras;
        dialog.Values.TvMode = c.tv;
        dialog.Values.Continuous = c.continuous;
        dialog.show();
        EXPECT_EQ(Enabled(dialog, 1052), c.continuousBox) << c.cameras << c.tv << c.continuous;
        EXPECT_EQ(Enabled(dialog, 1061), c.window) << c.cameras << c.tv << c.continuous;
        EXPECT_EQ(Enabled(dialog, 1072), c.window);
        dialog.reject();
    }
    // No PTZ box: port, baud and protocol off; Cam3 turns them on with its address only.
    CAdvanced dialog(notifier);
    dialog.show();
    for (int id : { 1010, 1085, 1103, 1078, 1079, 1029, 1062, 1086, 1087 })
        EXPECT_FALSE(Enabled(dialog, id)) << id;
    Button(dialog, 1076)->click();
    for (int id : { 1010, 1085, 1103, 1078, 1079, 1086 })
        EXPECT_TRUE(Enabled(dialog, id)) << id;
    for (int id : { 1029, 1062, 1087 })
        EXPECT_FALSE(Enabled(dialog, id)) << id;
    dialog.reject();
}

TEST_F(AdvancedTest, ComboWithoutSelectionKeepsStoredValue)
{
    RecordingNotifier notifier;
    const struct
    {
        int port, baud, protocol, standard;
        int baudIndex;
    } cases[] = {
        { 0, 2400, 0, kDvStandardNtsc, 0 },
        { 3, 115200, 1, kDvStandardPal, 2 },
        { 7, 4800, 5, 1999, -1 }, // none of the lists: nothing selected, all kept
    };
    for (const auto &c : cases) {
        CAdvanced dialog(notifier);
        dialog.Values.PtzPortIndex = c.port;
        dialog.Values.PtzBaud = c.baud;
        dialog.Values.PtzProtocol = c.protocol;
        dialog.Values.DvStandard = c.standard;
        dialog.show();
        EXPECT_EQ(Combo(dialog, 1085)->currentIndex(), c.baudIndex) << c.baud;
        dialog.accept();
        EXPECT_EQ(dialog.Values.PtzPortIndex, c.port);
        EXPECT_EQ(dialog.Values.PtzBaud, c.baud);
        EXPECT_EQ(dialog.Values.PtzProtocol, c.protocol);
        EXPECT_EQ(dialog.Values.DvStandard, c.standard);
    }
}

TEST_F(AdvancedTest, AddressOutOfRangeKeepsDialogOpen)
{
    RecordingNotifier notifier;
    CAdvanced dialog(notifier);
    dialog.Values.PtzCamera[2] = 1;
    dialog.Values.PtzAddress[4] = 77;
    dialog.show();
    Edit(dialog, 1062)->setText("256");
    Edit(dialog, 1087)->setText("junk"); // disabled: neither read nor checked
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Please enter an integer between 0 and 255.");
    EXPECT_EQ(dialog.focusWidget(), Edit(dialog, 1062));
    Edit(dialog, 1062)->setText("255");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Values.PtzAddress[2], 255);
    EXPECT_EQ(dialog.Values.PtzAddress[4], 77);
}

using SmallDialogTest = DialogTest;

TEST_F(SmallDialogTest, PasswordLimitCountsBytes)
{
    RecordingNotifier notifier;
    CPassword dialog(notifier);
    dialog.Password = "old";
    dialog.show();
    auto *edit = Edit(dialog, 1044);
    EXPECT_EQ(edit->text(), "old");
    // The validator refuses the 16th byte; a two-byte character does not fit in one.
    const QString fifteen(15, 'p');
    int pos = 0;
    QString input = fifteen;
    EXPECT_EQ(edit->validator()->validate(input, pos), QValidator::Acceptable);
    input = fifteen + "x";
    EXPECT_EQ(edit->validator()->validate(input, pos), QValidator::Invalid);
    input = QString(14, 'p') + QChar(0xE9);
    EXPECT_EQ(edit->validator()->validate(input, pos), QValidator::Invalid);
    edit->setText(fifteen + "x"); // bypasses the validator: OK still refuses
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(notifier.entries.at(0).text, "Please enter no more than 15 characters.");
    edit->setText(fifteen);
    dialog.accept();
    EXPECT_EQ(dialog.Password, fifteen.toStdString());
}

TEST_F(SmallDialogTest, MailTestButton)
{
    const struct
    {
        std::string to, from;
        std::string message;
        bool sent;
    } cases[] = {
        { "", "me@example.com", std::string(kTestMailNoTo), false },
        { "you@example.com", "", std::string(kTestMailNoFrom), false },
        { "you@example.com", "me@example.com", std::string(kTestMailSent), true },
    };
    for (const auto &c : cases) {
        RecordingNotifier notifier;
        std::vector<TestMailValues> sent;
        CSmtpEmail dialog(notifier);
        dialog.SendTestMail = [&](const TestMailValues &v) { sent.push_back(v); };
        dialog.Values = { "stored@example.com", "", "smtp.example.com", 1, 0 };
        dialog.show();
        Edit(dialog, 1051)->setText(QString::fromStdString(c.to));
        Edit(dialog, 1049)->setText(QString::fromStdString(c.from));
        Button(dialog, 1064)->click();
        ASSERT_EQ(notifier.entries.size(), 1u);
        EXPECT_EQ(notifier.entries[0].text, c.message);
        ASSERT_EQ(sent.size(), c.sent ? 1u : 0u);
        if (c.sent) {
            EXPECT_EQ(sent[0].MailTo, c.to);
            EXPECT_EQ(sent[0].MailFrom, c.from);
            EXPECT_EQ(sent[0].SmtpServer, "smtp.example.com");
        }
        dialog.reject();
    }
}

TEST_F(SmallDialogTest, MailCopyBackAndNoticeAndReviewMode)
{
    RecordingNotifier notifier;
    CSmtpEmail mail(notifier);
    mail.Values = { "a@example.com", "b@example.com", "smtp", 0, 1 };
    mail.show();
    EXPECT_EQ(Edit(mail, 1063)->text(), "smtp");
    EXPECT_TRUE(Button(mail, 1052)->isChecked());
    Button(mail, 1050)->click();
    mail.accept();
    EXPECT_EQ(mail.Values, (MailValues { "a@example.com", "b@example.com", "smtp", 1, 1 }));

    CNoticeBox notice;
    notice.Text = "Read this.";
    notice.show();
    EXPECT_EQ(Find<QLabel>(notice, 1047)->text(), "Read this.");
    notice.accept();

    CSelectReviewMode review;
    review.Motion = 1;
    review.show();
    EXPECT_TRUE(Find<QRadioButton>(review, 1054)->isChecked());
    Find<QRadioButton>(review, 1055)->click();
    review.accept();
    EXPECT_EQ(review.Motion, 0);
}

TEST_F(SmallDialogTest, FolderPickerAcceptsCreatesRefuses)
{
    TempFolder temp;
    const std::string missing = (temp.path / "a" / "b").string();
    const struct
    {
        std::string typed;
        bool answer;
        bool accepted;
        size_t messages;
    } cases[] = {
        { temp.path.string(), true, true, 0 },
        { missing, true, true, 1 }, // the question, then created
        { temp.path.string() + "/", true, false, 1 }, // invalid
        { (temp.path / "c").string(), false, false, 1 }, // declined: no message after
    };
    for (const auto &c : cases) {
        RecordingNotifier notifier;
        notifier.answer = c.answer;
        CFolderBrowseDialog dialog("Browse for Folder", "Select a directory...", temp.path.string(),
                                   notifier);
        dialog.show();
        EXPECT_EQ(dialog.windowTitle(), "Browse for Folder");
        EXPECT_EQ(Edit(dialog, 14148)->text().toStdString(), temp.path.string());
        Edit(dialog, 14148)->setText(QString::fromStdString(c.typed));
        dialog.accept();
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted) << c.typed;
        EXPECT_EQ(notifier.entries.size(), c.messages) << c.typed;
        if (c.accepted)
            EXPECT_EQ(dialog.GetPath(), c.typed);
        else
            dialog.reject();
    }
    EXPECT_TRUE(std::filesystem::is_directory(missing));
}

// The tree opens on the start folder, selected and in view, however deep it lies.
TEST_F(SmallDialogTest, FolderPickerOpensOnTheStartFolder)
{
    TempFolder temp;
    std::filesystem::path deep = temp.path;
    for (const char *level : { "b", "c", "d", "e" }) {
        for (int i = 0; i < 30; ++i) // siblings, so the start is far down the list
            std::filesystem::create_directories(deep / ("sibling" + std::to_string(i)));
        deep /= level;
    }
    std::filesystem::create_directories(deep);
    RecordingNotifier notifier;
    CFolderBrowseDialog dialog("Browse for Folder", "Select a directory...", deep.string(),
                               notifier);
    dialog.show();
    auto *tree = Find<QTreeView>(dialog, 14145);
    auto *model = qobject_cast<QFileSystemModel *>(tree->model());
    ASSERT_NE(model, nullptr);
    const QString start = QString::fromStdString(deep.string());
    const auto shown = [&] {
        const QModelIndex current = tree->currentIndex();
        return model->filePath(current) == start
            && tree->viewport()->rect().contains(tree->visualRect(current));
    };
    EXPECT_TRUE(QTest::qWaitFor(shown, 10000));
    EXPECT_EQ(Edit(dialog, 14148)->text(), start);
    dialog.reject();
}

} // namespace
} // namespace vorlund
