#pragma once

#include "ConfigValues.h"
#include "IdleDlg.h"
#include "Notifier.h"
#include "Seams.h"

#include <functional>
#include <string>

class QLineEdit;
class QCheckBox;
class QRadioButton;

namespace vorlund {

// "Set Password": the remote viewers' password, at most 15 bytes.
class CPassword : public CIdleDlg
{
public:
    explicit CPassword(INotifier &notifier, QWidget *parent = nullptr);
    std::string Password;

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    INotifier &m_notifier;
    QLineEdit *m_edit;
};

inline constexpr std::string_view kTestMailNoTo = "email To must contain a valid email address.";
inline constexpr std::string_view kTestMailNoFrom = "email From should contain an email address.";
inline constexpr std::string_view kTestMailSent = "Test email sent.";

// "Email Settings": recipient, sender, server and the two flags; Test sends one mail with
// what is typed.
class CSmtpEmail : public CIdleDlg
{
public:
    explicit CSmtpEmail(INotifier &notifier, QWidget *parent = nullptr);
    MailValues Values;
    // Sends the test mail; without it Test does nothing.
    std::function<void(const TestMailValues &)> SendTestMail;

    void OnTest();

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    INotifier &m_notifier;
    QLineEdit *m_to;
    QLineEdit *m_from;
    QLineEdit *m_server;
    QCheckBox *m_attach;
    QCheckBox *m_lowDisk;
};

// "Vorlund - Important Notice": a text and OK.
class CNoticeBox : public CIdleDlg
{
public:
    explicit CNoticeBox(QWidget *parent = nullptr);
    std::string Text;

protected:
    bool DoDataExchange(bool saveAndValidate) override;
};

// "Select Review Mode": motion snapshots (1) or time-lapse pictures (0).
class CSelectReviewMode : public CIdleDlg
{
public:
    explicit CSelectReviewMode(QWidget *parent = nullptr);
    uint8_t Motion = 1;

protected:
    bool DoDataExchange(bool saveAndValidate) override;

private:
    QRadioButton *m_motion;
    QRadioButton *m_timeLapse;
};

// Review mode's question. Returns false on Cancel; else `motion` says which pictures.
bool RunSelectReviewMode(QWidget *parent, bool &motion);

} // namespace vorlund
