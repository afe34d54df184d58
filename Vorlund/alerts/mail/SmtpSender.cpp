#include "SmtpSender.h"

#include "MailMessage.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <string_view>
#include <system_error>

namespace vorlund {

namespace {

struct CurlDeleter
{
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using CurlList = std::unique_ptr<curl_slist, SlistDeleter>;

struct Upload
{
    std::string_view data;
    size_t offset = 0;
};

size_t ReadChunk(char *buffer, size_t size, size_t count, void *user)
{
    auto *upload = static_cast<Upload *>(user);
    const size_t room = size * count;
    const size_t n = std::min(room, upload->data.size() - upload->offset);
    std::memcpy(buffer, upload->data.data() + upload->offset, n);
    upload->offset += n;
    return n;
}

int CheckAbort(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool> *>(user)->load() ? 1 : 0;
}

// The server's last refusal ("550 5.7.1 ..."), which says why a send failed. The server is
// untrusted: only printable text is kept, and only so much of it.
constexpr size_t kMaxReplyBytes = 300;

int NoteServerReply(CURL *, curl_infotype type, char *data, size_t size, void *user)
{
    if (type != CURLINFO_HEADER_IN || size < 3)
        return 0;
    const std::string_view line(data, size);
    if ((line[0] != '4' && line[0] != '5') || !std::isdigit(static_cast<unsigned char>(line[1]))
        || !std::isdigit(static_cast<unsigned char>(line[2])))
        return 0;
    std::string &reply = *static_cast<std::string *>(user);
    reply.clear();
    for (const char c : line) {
        if (reply.size() >= kMaxReplyBytes)
            break;
        if (c >= 0x20 && c < 0x7F)
            reply += c;
    }
    return 0;
}

bool CurlSpeaksSmtp()
{
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    if (!info || !info->protocols)
        return false;
    for (const char *const *p = info->protocols; *p; ++p)
        if (std::string_view(*p) == "smtp")
            return true;
    return false;
}

// The picture, or nullopt with the reason when it cannot be read whole.
std::optional<std::string> ReadPicture(const std::filesystem::path &path, std::string &why)
{
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        why = ec.message();
        return std::nullopt;
    }
    if (size > SmtpSender::kMaxAttachmentBytes) {
        why = "file too large";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    if (!in.read(bytes.data(), std::streamsize(size))) {
        why = "read failed";
        return std::nullopt;
    }
    return bytes;
}

} // namespace

SmtpSender::SmtpSender(IMessageSink &sink, uint32_t doneMessage, SmtpTimeouts timeouts)
    : m_sink(sink), m_doneMessage(doneMessage), m_timeouts(timeouts)
{ }

SmtpSender::~SmtpSender()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_abort = true;
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    if (m_curlReady)
        curl_global_cleanup();
}

bool SmtpSender::Start()
{
    m_started = m_started || CurlSpeaksSmtp();
    return m_started;
}

bool SmtpSender::Submit(SmtpJob job)
{
    if (!m_started)
        return false;
    if (!m_curlReady) {
        // Here, before the worker exists: the global init is not safe beside other threads.
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return false;
        m_curlReady = true;
    }
    if (!m_worker.joinable())
        m_worker = std::thread([this] { Run(); });
    {
        std::lock_guard lock(m_lock);
        m_job = std::move(job);
    }
    m_wake.notify_one();
    return true;
}

std::optional<SmtpResult> SmtpSender::TakeResult()
{
    std::lock_guard lock(m_lock);
    std::optional<SmtpResult> result = std::move(m_result);
    m_result.reset();
    return result;
}

void SmtpSender::Run()
{
    for (;;) {
        SmtpJob job;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_stop || m_job.has_value(); });
            if (m_stop)
                return;
            job = std::move(*m_job);
            m_job.reset();
        }
        SmtpResult result = Send(job);
        {
            std::lock_guard lock(m_lock);
            m_result = std::move(result);
        }
        // A send cut short by shutdown reports to nobody: the receiver is going away.
        if (!m_abort)
            m_sink.PostMessage(m_doneMessage);
    }
}

SmtpResult SmtpSender::Send(const SmtpJob &job)
{
    SmtpResult result;
    const MailHeaders headers { job.From, job.To, job.Subject, job.Date, job.MessageId };
    std::optional<MailAttachment> attachment;
    if (!job.Attachment.empty()) {
        std::string why;
        if (auto bytes = ReadPicture(job.Attachment, why))
            attachment = MailAttachment { AttachmentFileName(job.Attachment), std::move(*bytes) };
        else
            result.Warning = "email picture not attached: " + job.Attachment.string() + ": " + why;
    }
    const std::string message
        = ComposeMessage(headers, job.Body, attachment ? &*attachment : nullptr, job.Boundary);

    CurlHandle curl(curl_easy_init());
    if (!curl) {
        result.Error = "The mail transfer could not be set up.";
        return result;
    }
    const std::string from = "<" + job.EnvelopeFrom + ">";
    CurlList recipients(curl_slist_append(nullptr, ("<" + job.EnvelopeTo + ">").c_str()));
    Upload upload { message };
    char errorText[CURL_ERROR_SIZE] = {};
    CURL *c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, job.Url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp");
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, &ReadChunk);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(m_timeouts.ConnectMs));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, long(m_timeouts.TotalMs));
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(m_timeouts.StallSeconds));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, long(m_timeouts.StallSeconds));
    // One connection per mail, closed within this transfer: a QUIT left for the handle's
    // cleanup would wait on a stalled server without the abort check.
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &CheckAbort);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &m_abort);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    std::string serverReply;
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &NoteServerReply);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &serverReply);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);

    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OK) {
        result.Sent = true;
        return result;
    }
    result.Error = errorText[0] ? errorText : curl_easy_strerror(code);
    if (!serverReply.empty())
        result.Error += "\nThe server replied: " + serverReply;
    return result;
}

} // namespace vorlund
