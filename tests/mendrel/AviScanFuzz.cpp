// The repair planner on arbitrary bytes: header parse, both walks, index and header rebuild.
// The first byte picks the layout: odd inputs become the frame data of a reserved-index file
// (from 0xFE00) repaired against a valid template, even ones a RIFF file that is its own
// good file.
#include "AviPlan.h"
#include "ByteSource.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Template()
{
    std::vector<uint8_t> t(224, 0);
    const std::pair<size_t, const char *> ids[]
        = { { 0, "RIFF" },   { 8, "AVI " },   { 12, "LIST" },  { 20, "hdrl" },
            { 24, "avih" },  { 88, "LIST" },  { 96, "strl" },  { 100, "strh" },
            { 108, "vids" }, { 164, "strf" }, { 212, "indx" }, { 188, "MP43" } };
    for (const auto &[at, id] : ids)
        std::memcpy(t.data() + at, id, 4);
    t[216] = 0xB4;
    t[217] = 0x7C; // 0x7CB4: up to 0x7ED4
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::vector<uint8_t> damaged;
    std::vector<uint8_t> good;
    if (data[0] & 1) {
        damaged.assign(0xFE00, 0);
        damaged.insert(damaged.end(), data + 1, data + size);
        good = Template();
    } else {
        damaged.assign(data + 1, data + size);
        good = damaged;
    }
    mendrel::MemorySource d(damaged);
    mendrel::MemorySource g(good);
    const mendrel::RepairPlan plan = mendrel::PlanRepair(d, g, nullptr);
    if (plan.status == mendrel::PlanStatus::Ok) {
        std::vector<std::pair<uint64_t, uint64_t>> spans;
        for (const mendrel::Patch &p : plan.patches) {
            if (p.offset + p.bytes.size() > plan.newSize)
                std::abort(); // every write lands inside the planned file
            spans.emplace_back(p.offset, p.offset + p.bytes.size());
        }
        // No write overwrites another: their order is what keeps a cut-off repair mendable.
        std::sort(spans.begin(), spans.end());
        for (size_t i = 1; i < spans.size(); ++i) {
            if (spans[i].first < spans[i - 1].second)
                std::abort();
        }
    }
    return 0;
}
