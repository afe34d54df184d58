#pragma once

#include "ServerContext.h"
#include "SmtpSender.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace vorlund {

inline constexpr std::string_view kMailErrorPrefix = "Problem sending email...\n";
inline constexpr std::string_view kMailInitFailed
    = "The SMTP email component did not initialize properly.";
inline constexpr std::string_view kMotionSubject = "Motion on Camera ";
inline constexpr std::string_view kLowDiskSubject = "Vorlund Disk Space Low ";
inline constexpr std::string_view kTestSubject = "Test Email from Vorlund ";

// The alert, low-disk and test e-mails. One mail waits at a time (a newer one replaces it) and
// goes out from the main tick's settle window, never while the previous one is being sent.
//
// Threading contract: every method runs on the UI thread; the SMTP conversation runs on the
// sender's worker, which posts WM_MAIL_DONE when it has finished, and the view answers with
// OnMailDone. The pending mail and the busy flag are the UI thread's alone.
class AlertMailer final : public IMailer
{
public:
    explicit AlertMailer(ServerContext &context, SmtpTimeouts timeouts = {});

    // -1 readies libcurl and the worker (once, at start); any other value sends the pending
    // mail when there is one, none is being sent and the recipient is not empty.
    void SendAlertMail(int code) override;
    void QueueAlert(int camera, const std::filesystem::path &picture) override;
    void QueueLowDiskMail(int freePercent) override;
    // The dialog's addresses and server for this one mail; the stored settings stay as they
    // are, and a picture of an earlier alert is never attached.
    void SendTestMail(const TestMailValues &values) override;

    // WM_MAIL_DONE: the worker has finished; an error is shown.
    void OnMailDone();
    void OnMailError(std::string_view text);

    bool IsBusy() const { return m_busy; }
    bool IsPending() const { return m_pending.has_value(); }

private:
    struct QueuedMail
    {
        std::string Subject;
        std::string Body;
        std::filesystem::path Picture; // motion alerts only
        std::optional<TestMailValues> Addresses; // test mail: used instead of the settings
    };

    ServerContext &m_context;
    SmtpSender m_sender;
    std::optional<QueuedMail> m_pending;
    bool m_busy = false;
    std::mt19937_64 m_random;
};

} // namespace vorlund
