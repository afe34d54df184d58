#pragma once

// The main window's rectangle, kept by the server and the viewer in the profile section
// "Frame" ("Top", "Left", "Bottom", "Right"), and the rules that bring a stored rectangle back
// onto the screen. No window system here: the widget side measures, these functions decide.

#include <string_view>

namespace vorlund {

// Integer values by section and key, as both programs' profiles offer them. Set values are
// kept until Commit writes them out.
class IProfileStore
{
public:
    virtual ~IProfileStore() = default;
    virtual int GetProfileInt(std::string_view section, std::string_view key,
                              int defaultValue) const = 0;
    virtual void SetProfileInt(std::string_view section, std::string_view key, int value) = 0;
    // Returns false when the values could not be written.
    virtual bool Commit() = 0;
};

// -1 where nothing was stored.
struct FramePlacement
{
    int Top = -1;
    int Left = -1;
    int Bottom = -1;
    int Right = -1;
    friend bool operator==(const FramePlacement &, const FramePlacement &) = default;
};

FramePlacement ReadFramePlacement(const IProfileStore &profile);
bool WriteFramePlacement(IProfileStore &profile, const FramePlacement &placement);

struct PlacementRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PlacementRect &, const PlacementRect &) = default;
};

// What the screen looks like where the window opens.
struct ScreenMetrics
{
    PlacementRect screen; // the whole screen
    PlacementRect workArea; // the screen less panels and docks
    int iconWidth = 32;
    int iconHeight = 32;
};

// The window's largest believable edge; a stored size beyond it is taken as damage.
inline constexpr int kMaxWindowEdge = 16384;

// Where the window opens. A stored rectangle keeps its size and is placed relative to the
// work area's top left, no further right than the screen width less an icon and no further
// down than the screen height less an icon. Nothing stored, negative or inverted coordinates,
// or an unbelievable size give `defaultSize` centred in the work area.
PlacementRect ClampFramePlacement(const FramePlacement &stored, const ScreenMetrics &screen,
                                  int defaultWidth, int defaultHeight);

// The rectangle to store for a window shown at `rect`, the inverse of the placement above, so
// a window that is not moved opens in the same place next time.
FramePlacement PlacementToStore(const PlacementRect &rect, const ScreenMetrics &screen);

} // namespace vorlund
