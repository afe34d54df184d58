#include "DeviceNames.h"

#include <gtest/gtest.h>

using namespace vorlund;

using Names = std::vector<std::string>;

TEST(DeviceNames, DuplicatesGetTheirOwnPosition)
{
    EXPECT_EQ(LabelDevices({ "X", "X", "X" }), (Names { "X", "X #2", "X #3" }));
    EXPECT_EQ(LabelDevices({ "A", "B", "A", "B" }), (Names { "A", "B", "A #3", "B #4" }));
    EXPECT_EQ(LabelDevices({ "A", "B", "C" }), (Names { "A", "B", "C" }));
    EXPECT_TRUE(LabelDevices({}).empty());
}

namespace {
std::optional<size_t> Select(const Names &names, std::string_view stored)
{
    return SelectDevice(names, LabelDevices(names), stored);
}
} // namespace

TEST(DeviceNames, BindsTheListedDevice)
{
    const Names three { "X", "X", "X" };
    EXPECT_EQ(Select(three, "X"), 0u);
    EXPECT_EQ(Select(three, "X #2"), 1u);
    EXPECT_EQ(Select(three, "X #3"), 2u);
    const Names pairs { "A", "B", "A", "B" };
    EXPECT_EQ(Select(pairs, "B #4"), 3u);
    EXPECT_EQ(Select(pairs, "B"), 1u);
}

TEST(DeviceNames, ExactNameWinsOverAnEarlierSubstring)
{
    // A stored "Cam" never binds "Web Cam" while a device named "Cam" exists.
    EXPECT_EQ(Select({ "Web Cam", "Cam" }, "Cam"), 1u);
    EXPECT_EQ(Select({ "Web Cam", "Other" }, "Cam"), 0u);
}

TEST(DeviceNames, HashRuleFollowsThePosition)
{
    EXPECT_EQ(Select({ "Cam", "Cam" }, "Cam #2"), 1u);
    // The second device was replaced by another: position 2 still binds.
    EXPECT_EQ(Select({ "Cam", "Other" }, "Cam #2"), 1u);
    // Only the digit right after "#" counts.
    EXPECT_EQ(Select({ "Cam", "Cam" }, "Cam #12"), 0u);
    // A "#" in the first place never selects; neither does a position beyond the devices.
    EXPECT_EQ(Select({ "A", "B" }, "#2"), std::nullopt);
    EXPECT_EQ(Select({ "A", "B" }, "A #7"), std::nullopt);
    EXPECT_EQ(Select({ "A", "B" }, "Z #x"), std::nullopt);
}

TEST(DeviceNames, EmptyNameAndUnlistedDevices)
{
    EXPECT_EQ(Select({ "A", "B" }, ""), 0u);
    EXPECT_EQ(Select({}, ""), std::nullopt);
    // A fifth device is never listed but binds by its name.
    EXPECT_EQ(Select({ "A", "B", "C", "D", "Fifth Camera" }, "Fifth"), 4u);
    EXPECT_EQ(Select({ "A", "B" }, "Missing"), std::nullopt);
}
