// Any bytes as the head of a profile file: a name within its bound, or none.
#include "CodecChoice.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto name = vorlund::ProfileDisplayName({ data, size });
    // 422 UTF-16 units at most, each at most 3 bytes of UTF-8 (a pair: 4 bytes for 2 units).
    if (name && (name->empty() || name->size() > 3 * 422))
        __builtin_trap();
    return 0;
}
