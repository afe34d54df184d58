#include "ErrorLog.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace vorlund {

namespace {

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the sequence a lead byte starts, or 1 for a byte that starts none.
size_t SequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    return 1;
}

} // namespace

std::string_view CutAtCharacter(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    // Walk back over at most three continuation bytes to the sequence's lead byte; keep the
    // sequence only when it ends within the limit.
    size_t lead = maxBytes;
    while (lead > 0 && maxBytes - lead < 3
           && IsContinuation(static_cast<unsigned char>(text[lead])))
        --lead;
    if (lead < maxBytes && !IsContinuation(static_cast<unsigned char>(text[lead]))
        && lead + SequenceLength(static_cast<unsigned char>(text[lead])) > maxBytes)
        return text.substr(0, lead);
    return text.substr(0, maxBytes);
}

ErrorLog::ErrorLog(std::filesystem::path file, const IClock &clock)
    : m_file(std::move(file)), m_clock(clock)
{ }

bool ErrorLog::AppendErrorLog(std::string_view text) const
{
    const LocalDateTime t = m_clock.Now();
    char head[48];
    const int n = std::snprintf(head, sizeof head, "\r\n%04d%02d%02d-%02d:%02d:%02d - ", t.year,
                                t.month, t.day, t.hour, t.minute, t.second);
    std::string entry(head, n > 0 ? static_cast<size_t>(n) : 0);
    entry.append(CutAtCharacter(text, kMaxMessageBytes));

    // The lock keeps one entry's writes together even when a write comes back short.
    const std::lock_guard<std::mutex> hold(m_lock);
    const int fd = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    bool ok = true;
    while (done < entry.size()) {
        const ssize_t w = ::write(fd, entry.data() + done, entry.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(w);
    }
    return ::close(fd) == 0 && ok;
}

} // namespace vorlund
