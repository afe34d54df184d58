#include "SmallDialogs.h"

#include "DialogControls.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vorlund {

CPassword::CPassword(INotifier &notifier, QWidget *parent)
    : CIdleDlg(116, parent), m_notifier(notifier)
{
    setWindowTitle("Set Password");
    m_edit = MakeTextEdit(1044, kRemotePasswordWidth, this);
    m_edit->setEchoMode(QLineEdit::Password);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(MakeLabel("(max 15 chars)", this));
    layout->addWidget(m_edit);
    layout->addWidget(MakeOkCancel(this));
}

bool CPassword::DoDataExchange(bool save)
{
    if (!save) {
        m_edit->setText(FromUtf8(Password));
        return true;
    }
    const auto text = ReadText(m_edit, kRemotePasswordWidth, m_notifier);
    if (!text)
        return false;
    Password = *text;
    return true;
}

CSmtpEmail::CSmtpEmail(INotifier &notifier, QWidget *parent)
    : CIdleDlg(121, parent), m_notifier(notifier)
{
    setWindowTitle("Email Settings");
    m_to = MakeTextEdit(1051, kMailWidth, this);
    m_from = MakeTextEdit(1049, kMailWidth, this);
    m_server = MakeTextEdit(1063, kMailWidth, this);
    m_attach = MakeCheck(1050, "send picture attachment with email", this);
    m_lowDisk = MakeCheck(1052, "send an email when disk space is low", this);
    auto *test = new QPushButton("Test", this);
    test->setObjectName("1064");
    test->setAutoDefault(false);
    connect(test, &QPushButton::clicked, this, &CSmtpEmail::OnTest);

    auto *form = new QFormLayout;
    form->addRow(MakeLabel("email To:", this), m_to);
    form->addRow(MakeLabel("email From:", this), m_from);
    form->addRow(MakeLabel("SMTP Server:", this), m_server);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_attach);
    layout->addWidget(m_lowDisk);
    layout->addWidget(test);
    layout->addWidget(MakeOkCancel(this));

    SetHelpEntry(1, "Save Changes", "Click this button to save these settings.");
    SetHelpEntry(1049, "Email From",
                 "Enter the email address the alert is sent from.\n"
                 "For example: vorlund@example.com\n"
                 "This is optional, but most mail servers\n"
                 "refuse mail with an empty From address.\n");
    SetHelpEntry(1050, "Email Attachment",
                 "Check this to send a picture when motion is detected.\n");
    SetHelpEntry(1051, "Email To",
                 "Enter the email address the alert is sent to.\n"
                 "For example: me@example.com\n"
                 "This must be a valid email address.\n");
    SetHelpEntry(1052, "Email Disk Low",
                 "Check this to send an email when disk space is running low.\n"
                 "You will receive an email when there is less than 6%\n"
                 "available disk space. Vorlund will stop when there is less than 2%.");
    SetHelpEntry(1063, "Email Server",
                 "Enter the SMTP server that sends the alert.\n"
                 "For example: smtp.example.com\n"
                 "This is optional, but recommended:\n"
                 "many networks accept mail only through their server.\n");
    SetHelpEntry(1064, "Send Test Email",
                 "This will send a test email. You should receive the\n"
                 "email if the above settings are correct.\n");
}

bool CSmtpEmail::DoDataExchange(bool save)
{
    if (!save) {
        m_to->setText(FromUtf8(Values.To));
        m_from->setText(FromUtf8(Values.From));
        m_server->setText(FromUtf8(Values.Server));
        m_attach->setChecked(Values.Attach != 0);
        m_lowDisk->setChecked(Values.LowDisk != 0);
        return true;
    }
    const auto to = ReadText(m_to, kMailWidth, m_notifier);
    if (!to)
        return false;
    const auto from = ReadText(m_from, kMailWidth, m_notifier);
    if (!from)
        return false;
    const auto server = ReadText(m_server, kMailWidth, m_notifier);
    if (!server)
        return false;
    Values.To = *to;
    Values.From = *from;
    Values.Server = *server;
    Values.Attach = m_attach->isChecked() ? 1 : 0;
    Values.LowDisk = m_lowDisk->isChecked() ? 1 : 0;
    return true;
}

void CSmtpEmail::OnTest()
{
    if (!UpdateData(true) || !SendTestMail)
        return;
    if (Values.To.empty()) {
        m_notifier.ShowMessage(kTestMailNoTo, kPlainCaption);
        return;
    }
    if (Values.From.empty()) {
        m_notifier.ShowMessage(kTestMailNoFrom, kPlainCaption);
        return;
    }
    // The receiver copies the texts; nothing here has to outlive the call.
    SendTestMail(TestMailValues { Values.From, Values.Server, Values.To });
    m_notifier.ShowMessage(kTestMailSent, kPlainCaption);
}

CNoticeBox::CNoticeBox(QWidget *parent) : CIdleDlg(118, parent)
{
    setWindowTitle("Vorlund - Important Notice");
    auto *text = MakeLabel(QString(), this, 1047);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(MakeOkCancel(this, false));
}

bool CNoticeBox::DoDataExchange(bool save)
{
    if (!save)
        static_cast<QLabel *>(Control(1047))->setText(FromUtf8(Text));
    return true;
}

CSelectReviewMode::CSelectReviewMode(QWidget *parent) : CIdleDlg(124, parent)
{
    setWindowTitle("Select Review Mode");
    m_motion = new QRadioButton("Motion", this);
    m_motion->setObjectName("1054");
    m_timeLapse = new QRadioButton("TimeLapse", this);
    m_timeLapse->setObjectName("1055");
    auto *group = new QButtonGroup(this);
    group->addButton(m_motion);
    group->addButton(m_timeLapse);
    connect(m_motion, &QRadioButton::clicked, this, [this] { Motion = 1; });
    connect(m_timeLapse, &QRadioButton::clicked, this, [this] { Motion = 0; });
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_motion);
    layout->addWidget(m_timeLapse);
    layout->addWidget(MakeOkCancel(this));
}

bool CSelectReviewMode::DoDataExchange(bool save)
{
    if (!save)
        (Motion ? m_motion : m_timeLapse)->setChecked(true);
    return true;
}

bool RunSelectReviewMode(QWidget *parent, bool &motion)
{
    CSelectReviewMode dialog(parent);
    dialog.Motion = 1;
    if (dialog.exec() != QDialog::Accepted)
        return false;
    motion = dialog.Motion != 0;
    return true;
}

} // namespace vorlund
