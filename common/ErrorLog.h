#pragma once

#include "Clock.h"

#include <filesystem>
#include <mutex>
#include <string_view>

namespace vorlund {

// The server's error log: one entry per error, "\r\nYYYYMMDD-hh:mm:ss - message" with no line
// end after it. Each entry opens and closes the file, so the log survives a crash.
// One object serves the whole program: the UI thread and the recycler's worker both append,
// and the lock keeps their entries whole.
class ErrorLog
{
public:
    static constexpr size_t kMaxMessageBytes = 255;

    ErrorLog(std::filesystem::path file, const IClock &clock);

    // Messages are cut at 255 bytes, never inside a UTF-8 character. Returns false when the
    // file cannot be written. Any thread.
    bool AppendErrorLog(std::string_view text) const;

    const std::filesystem::path &Path() const { return m_file; }

private:
    std::filesystem::path m_file;
    const IClock &m_clock;
    mutable std::mutex m_lock;
};

// The longest start of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// sequence. Bytes that are no UTF-8 at all are cut like single characters.
std::string_view CutAtCharacter(std::string_view text, size_t maxBytes);

} // namespace vorlund
