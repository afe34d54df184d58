#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mendrel {

// Whole reads and writes at an offset, retried on EINTR; false with errno set on failure.
bool PReadAll(int fd, uint8_t *dst, size_t n, uint64_t offset);
bool PWriteAll(int fd, const uint8_t *src, size_t n, uint64_t offset);
// Flushes the folder entry of `path` (a created or deleted file). Returns 0 or an errno.
int SyncFolderOf(const std::string &path);

} // namespace mendrel
