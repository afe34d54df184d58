#include "ErrorLog.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace vorlund {

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
    entry.append(text.substr(0, 255));

    // O_APPEND keeps concurrent writers (window thread, recycler) from overwriting each other.
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
