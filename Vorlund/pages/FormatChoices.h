#pragma once

#include "CaptureFormat.h"
#include "DevicePageValues.h"

#include <optional>
#include <vector>

namespace vorlund {

// The formats a source offers, as the format page lists them: one option per subtype we can
// store, each with its sizes (none above 720x576) and rates. A size or rate range offers the
// common sizes and rates that lie inside it.
std::vector<FormatOption> FormatOptions(const GstCaps *offered);

// The stored subtype of a caps structure; nullopt when it has none.
std::optional<Guid> SubtypeForStructure(const GstStructure *structure);

// What a negotiated (fixed) caps stores: subtype, size and frame duration (0 without a rate).
std::optional<StoredFormat> FormatFromCaps(const GstCaps *caps);

// 100 ns units per frame at num/den frames a second (truncated, as the device file keeps it).
int64_t FrameDurationForRate(int num, int den);

// The page's values for the stored format: the matching option, else the first.
FormatPageValues FormatPageFor(const std::vector<FormatOption> &options,
                               const StoredFormat &stored);

} // namespace vorlund
