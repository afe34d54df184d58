#pragma once

#include <QRect>
#include <QString>

#include <array>
#include <optional>

namespace vorlund::viewer {

struct FrameRect;
struct ViewerSettings;

// What the Configuration dialog gives back after OK.
struct ConfigurationValues
{
    QString host;
    int port = 0;
    int quality = 0;
    int mode = 0;
    bool beep = false;
};
// The mode; in Manual mode the host (to the front of the list) and the port; the quality by
// ConfiguredQuality; beep on motion.
void ApplyConfiguration(ViewerSettings &settings, const ConfigurationValues &values);

// Manual host list after OK, most recent first: the first again changes nothing, the second
// swaps with the first, anything else shifts the list down and drops the third.
void PushHost(std::array<QString, 3> &hosts, const QString &host);

// The current folder with trailing '/', blanks, '?', ':' and '*' removed; nullopt when
// nothing is left ("Current working directory is invalid!").
std::optional<QString> WorkingFolder(const QString &currentFolder);
inline constexpr const char *kInvalidWorkingFolder = "Current working directory is invalid!";

// Where a stored window rectangle goes on this screen: its size, moved by the work area's
// origin and pulled back so that at least an icon's width and height stay on the screen.
QRect PlaceFrame(const FrameRect &stored, const QRect &workArea, const QSize &screen,
                 const QSize &icon);

} // namespace vorlund::viewer
