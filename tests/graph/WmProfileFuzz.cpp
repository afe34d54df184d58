// Any bytes as a Windows Media profile: parsed without a crash, within its bounds.
#include "WmProfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto profile = vorlund::ParseWmProfile({ data, size });
    if (profile
        && (profile->streams.empty() || profile->streams.size() > vorlund::kMaxProfileStreams))
        __builtin_trap();
    return 0;
}
