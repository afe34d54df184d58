#pragma once

// The one thread that talks to the SMTP server, so the UI thread never waits on the network.
//
// Threading contract: Start, Submit, TakeResult and the destructor are called on the UI thread
// only. The worker owns the curl handle; it receives one job at a time under m_lock and hands
// the result back under the same lock, then posts the done message. A job is never submitted
// while one runs (the mailer's busy flag), so a result is always taken before the next send.

#include "Messages.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vorlund {

struct SmtpTimeouts
{
    // Reaching the server; a server that neither answers nor takes data for StallSeconds; the
    // whole send. Each ends the send with an error, and the mailer may send again.
    uint32_t ConnectMs = 30000;
    uint32_t StallSeconds = 60;
    uint32_t TotalMs = 600000;
};

// Everything one send needs; the message is put together on the worker because it reads the
// picture file.
struct SmtpJob
{
    std::string Url; // SmtpUrl
    std::string EnvelopeFrom; // bare address, may be empty
    std::string EnvelopeTo; // bare address
    std::string From; // header values, already checked to be one line each
    std::string To;
    std::string Subject;
    std::string Body;
    std::string Date;
    std::string MessageId;
    std::string Boundary;
    std::filesystem::path Attachment; // empty: none
};

struct SmtpResult
{
    bool Sent = false;
    std::string Error; // the user's text when not sent
    std::string Warning; // for the error log when sent with a part left out
};

class SmtpSender
{
public:
    SmtpSender(IMessageSink &sink, uint32_t doneMessage, SmtpTimeouts timeouts);
    ~SmtpSender();
    SmtpSender(const SmtpSender &) = delete;
    SmtpSender &operator=(const SmtpSender &) = delete;

    // Checks that libcurl can send mail; false when it cannot. libcurl (and the TLS libraries
    // it initialises, some megabytes) and the worker are readied by the first Submit, so a
    // server that never mails never pays for them.
    bool Start();
    bool IsStarted() const { return m_started; }
    // Hands the job to the worker; the done message follows when it has finished. False, and
    // the job dropped, when libcurl could not be initialised.
    bool Submit(SmtpJob job);
    // The result of the finished job, once.
    std::optional<SmtpResult> TakeResult();

    // The picture is read into the mail whole; a bigger file is left out.
    static constexpr uintmax_t kMaxAttachmentBytes = 16u << 20;

private:
    void Run();
    SmtpResult Send(const SmtpJob &job);

    IMessageSink &m_sink;
    const uint32_t m_doneMessage;
    const SmtpTimeouts m_timeouts;
    bool m_started = false;
    bool m_curlReady = false;

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::optional<SmtpJob> m_job;
    std::optional<SmtpResult> m_result;
    bool m_stop = false;
    // Read by the transfer's progress callback so a shutdown ends a stalled send at once.
    std::atomic<bool> m_abort { false };
    std::thread m_worker;
};

} // namespace vorlund
