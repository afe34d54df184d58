#pragma once

#include "Clock.h"

#include <filesystem>
#include <string_view>

namespace vorlund {

// The server's error log: one entry per error, "\r\nYYYYMMDD-hh:mm:ss - message" with no line
// end after it. Each entry opens and closes the file, so the log survives a crash.
class ErrorLog
{
public:
    ErrorLog(std::filesystem::path file, const IClock &clock);

    // Messages are cut at 255 bytes. Returns false when the file cannot be written.
    bool AppendErrorLog(std::string_view text) const;

    const std::filesystem::path &Path() const { return m_file; }

private:
    std::filesystem::path m_file;
    const IClock &m_clock;
};

} // namespace vorlund
