#include "AlertMailer.h"

#include "DeviceSettings.h"
#include "MailMessage.h"

#include <cstdio>
#include <ctime>

namespace vorlund {

AlertMailer::AlertMailer(ServerContext &context, SmtpTimeouts timeouts)
    : m_context(context), m_sender(context.sink, WM_MAIL_DONE, timeouts),
      m_random(std::random_device {}())
{ }

void AlertMailer::SendAlertMail(int code)
{
    if (code == -1) {
        if (!m_sender.Start())
            m_context.notifier.ShowMessage(kMailInitFailed, kPlainCaption);
        return;
    }
    if (!m_pending || m_busy || !m_sender.IsStarted())
        return;
    const DeviceConfig &config = m_context.settings.Config;
    const TestMailValues addresses = m_pending->Addresses
        ? *m_pending->Addresses
        : TestMailValues { config.MailFrom, config.SmtpServer, config.MailTo };
    if (addresses.MailTo.empty())
        return; // stays pending until there is someone to send it to

    QueuedMail mail = std::move(*m_pending);
    m_pending.reset();
    if (auto problem = CheckMailFields(addresses.MailFrom, addresses.MailTo, mail.Subject,
                                       addresses.SmtpServer)) {
        OnMailError(*problem);
        return;
    }

    const std::time_t now = std::time(nullptr);
    SmtpJob job;
    job.Url = SmtpUrl(*ParseSmtpServer(addresses.SmtpServer));
    job.EnvelopeFrom = *EnvelopeAddress(addresses.MailFrom);
    job.EnvelopeTo = *EnvelopeAddress(addresses.MailTo);
    job.From = addresses.MailFrom;
    job.To = addresses.MailTo;
    job.Subject = std::move(mail.Subject);
    job.Body = std::move(mail.Body);
    job.Date = FormatMailDate(now);
    job.MessageId = MakeMessageId(now, m_random(), job.EnvelopeFrom);
    char boundary[40];
    std::snprintf(boundary, sizeof boundary, "=_vorlund_%016llx",
                  static_cast<unsigned long long>(m_random()));
    job.Boundary = boundary;
    if (config.Block.AttachPicture)
        job.Attachment = std::move(mail.Picture);
    m_busy = m_sender.Submit(std::move(job));
    if (!m_busy)
        m_context.notifier.ShowMessage(kMailInitFailed, kPlainCaption);
}

void AlertMailer::QueueAlert(int camera, const std::filesystem::path &picture)
{
    if (!IsCamera(camera))
        return;
    m_pending = QueuedMail {
        std::string(kMotionSubject) + std::to_string(camera), {}, picture, std::nullopt
    };
}

void AlertMailer::QueueLowDiskMail(int freePercent)
{
    char body[96];
    std::snprintf(body, sizeof body,
                  "Available Disk space is %d%% or less.\nPlease free disk space.", freePercent);
    m_pending = QueuedMail { std::string(kLowDiskSubject), body, {}, std::nullopt };
}

void AlertMailer::SendTestMail(const TestMailValues &values)
{
    m_pending = QueuedMail { std::string(kTestSubject), {}, {}, values };
    SendAlertMail(0);
}

void AlertMailer::OnMailDone()
{
    std::optional<SmtpResult> result = m_sender.TakeResult();
    if (!result)
        return;
    m_busy = false;
    if (!result->Warning.empty())
        m_context.log.AppendErrorLog(result->Warning);
    if (!result->Sent)
        OnMailError(result->Error);
}

void AlertMailer::OnMailError(std::string_view text)
{
    std::string message(kMailErrorPrefix);
    message += text;
    // A server that keeps failing (each time with another count of milliseconds) leaves one
    // box, not one per try.
    m_context.notifier.ShowMessageOfKind("mail error", message, kPlainCaption);
}

} // namespace vorlund
