#include "WindowPlacement.h"

#include <algorithm>
#include <cstdint>

namespace vorlund {

namespace {

constexpr const char *kFrame = "Frame";

int ToInt(int64_t v)
{
    return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

} // namespace

FramePlacement ReadFramePlacement(const IProfileStore &profile)
{
    FramePlacement p;
    p.Top = profile.GetProfileInt(kFrame, "Top", -1);
    p.Left = profile.GetProfileInt(kFrame, "Left", -1);
    p.Bottom = profile.GetProfileInt(kFrame, "Bottom", -1);
    p.Right = profile.GetProfileInt(kFrame, "Right", -1);
    return p;
}

bool WriteFramePlacement(IProfileStore &profile, const FramePlacement &placement)
{
    profile.SetProfileInt(kFrame, "Top", placement.Top);
    profile.SetProfileInt(kFrame, "Left", placement.Left);
    profile.SetProfileInt(kFrame, "Bottom", placement.Bottom);
    profile.SetProfileInt(kFrame, "Right", placement.Right);
    return profile.Commit();
}

PlacementRect ClampFramePlacement(const FramePlacement &stored, const ScreenMetrics &screen,
                                  int defaultWidth, int defaultHeight)
{
    const PlacementRect &work = screen.workArea;
    const bool usable = stored.Top >= 0 && stored.Left >= 0 && stored.Bottom > stored.Top
        && stored.Right > stored.Left && stored.Right - stored.Left <= kMaxWindowEdge
        && stored.Bottom - stored.Top <= kMaxWindowEdge;
    if (!usable) {
        PlacementRect r { 0, 0, std::max(1, defaultWidth), std::max(1, defaultHeight) };
        r.x = work.x + std::max(0, (work.width - r.width) / 2);
        r.y = work.y + std::max(0, (work.height - r.height) / 2);
        return r;
    }
    PlacementRect r;
    r.width = stored.Right - stored.Left;
    r.height = stored.Bottom - stored.Top;
    const int64_t maxX = int64_t(screen.screen.x) + screen.screen.width - screen.iconWidth;
    const int64_t maxY = int64_t(screen.screen.y) + screen.screen.height - screen.iconHeight;
    r.x = ToInt(std::min<int64_t>(int64_t(work.x) + stored.Left, maxX));
    r.y = ToInt(std::min<int64_t>(int64_t(work.y) + stored.Top, maxY));
    return r;
}

FramePlacement PlacementToStore(const PlacementRect &rect, const ScreenMetrics &screen)
{
    FramePlacement p;
    // A window pushed past the work area's top or left comes back at its edge, not at the
    // default size.
    p.Left = ToInt(std::max<int64_t>(0, int64_t(rect.x) - screen.workArea.x));
    p.Top = ToInt(std::max<int64_t>(0, int64_t(rect.y) - screen.workArea.y));
    p.Right = ToInt(int64_t(p.Left) + rect.width);
    p.Bottom = ToInt(int64_t(p.Top) + rect.height);
    return p;
}

} // namespace vorlund
