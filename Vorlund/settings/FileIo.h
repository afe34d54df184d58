#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <sys/types.h>
#include <vector>

namespace vorlund {

// Replaces `path` with `bytes` so that a crash or a full disk never leaves a truncated file:
// the bytes go to a temporary file in the same folder (created with `mode`), which is flushed
// to disk and renamed over the old file. Returns 0, or the errno of the step that failed (the
// old file is then untouched).
int WriteFileAtomically(const std::filesystem::path &path, std::span<const uint8_t> bytes,
                        mode_t mode);

// The same for settings, which are saved again and again unchanged (every slow tick): a file
// that already holds `bytes` with `mode` is left as it is, without the two flushes to disk on
// the UI thread. Not for pictures, whose file times tell the newest.
int WriteFileIfChanged(const std::filesystem::path &path, std::span<const uint8_t> bytes,
                       mode_t mode);

// Reads at most `maxBytes` from the start of `path` into `out` and gives the file's full size.
// Returns 0 or an errno; a file that ends early (it shrank while being read) gives EIO.
int ReadFileStart(const std::filesystem::path &path, size_t maxBytes, std::vector<uint8_t> &out,
                  uint64_t &fileSize);

} // namespace vorlund
