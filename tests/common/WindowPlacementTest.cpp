#include "WindowPlacement.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>

namespace vorlund {
namespace {

class MapStore : public IProfileStore
{
public:
    int GetProfileInt(std::string_view section, std::string_view key,
                      int defaultValue) const override
    {
        const auto it = values.find(std::string(section) + "/" + std::string(key));
        return it == values.end() ? defaultValue : it->second;
    }
    void SetProfileInt(std::string_view section, std::string_view key, int value) override
    {
        values[std::string(section) + "/" + std::string(key)] = value;
    }
    bool Commit() override { return ++commits, true; }

    std::map<std::string, int> values;
    int commits = 0;
};

// A 1024 x 768 screen with a 30-pixel panel along the top.
ScreenMetrics Screen()
{
    ScreenMetrics m;
    m.screen = { 0, 0, 1024, 768 };
    m.workArea = { 0, 30, 1024, 738 };
    return m;
}

TEST(WindowPlacement, ClampTable)
{
    struct Case
    {
        const char *name;
        FramePlacement stored;
        PlacementRect expected;
    };
    // Default 640 x 500, centred in the work area: (192, 30 + 119).
    const PlacementRect centred { 192, 149, 640, 500 };
    const Case cases[] = {
        { "nothing stored", {}, centred },
        { "kept, offset by the work area", { 10, 20, 310, 420 }, { 20, 40, 400, 300 } },
        { "Left 5000 on a 1024 screen", { 10, 5000, 310, 5400 }, { 1024 - 32, 40, 400, 300 } },
        { "too far down", { 900, 10, 1200, 410 }, { 10, 768 - 32, 400, 300 } },
        { "one value missing", { 10, 20, -1, 420 }, centred },
        { "negative left", { 10, -300, 310, 100 }, centred },
        { "negative top", { -5, 20, 310, 420 }, centred },
        { "inverted width", { 10, 420, 310, 20 }, centred },
        { "inverted height", { 310, 20, 10, 420 }, centred },
        { "empty", { 10, 20, 10, 20 }, centred },
        { "unbelievably large", { 0, 0, 100, 100000 }, centred },
        { "at the limits of int",
          { INT_MAX - 10, INT_MAX - 10, INT_MAX, INT_MAX },
          { 1024 - 32, 768 - 32, 10, 10 } },
    };
    for (const Case &c : cases)
        EXPECT_EQ(ClampFramePlacement(c.stored, Screen(), 640, 500), c.expected) << c.name;
}

TEST(WindowPlacement, DefaultLargerThanTheWorkAreaStartsAtItsCorner)
{
    EXPECT_EQ(ClampFramePlacement({}, Screen(), 2000, 1000), (PlacementRect { 0, 30, 2000, 1000 }));
}

TEST(WindowPlacement, StoringWhatWasPlacedGivesTheSamePlaceAgain)
{
    const FramePlacement stored { 100, 50, 600, 690 };
    const PlacementRect shown = ClampFramePlacement(stored, Screen(), 640, 500);
    EXPECT_EQ(PlacementToStore(shown, Screen()), stored);
    // A window dragged above the work area comes back at its top edge, same size.
    EXPECT_EQ(PlacementToStore({ -40, 10, 300, 200 }, Screen()),
              (FramePlacement { 0, 0, 200, 300 }));
}

TEST(WindowPlacement, ReadAndWriteTheFrameSection)
{
    MapStore store;
    EXPECT_EQ(ReadFramePlacement(store), FramePlacement {});
    ASSERT_TRUE(WriteFramePlacement(store, { 1, 2, 3, 4 }));
    EXPECT_EQ(store.commits, 1);
    EXPECT_EQ(store.values.at("Frame/Top"), 1);
    EXPECT_EQ(store.values.at("Frame/Left"), 2);
    EXPECT_EQ(store.values.at("Frame/Bottom"), 3);
    EXPECT_EQ(store.values.at("Frame/Right"), 4);
    EXPECT_EQ(ReadFramePlacement(store), (FramePlacement { 1, 2, 3, 4 }));
}

} // namespace
} // namespace vorlund
