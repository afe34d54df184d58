#pragma once

#include "LinkSettings.h"

#include <QSettings>
#include <QString>

#include <array>
#include <optional>

namespace vorlund::viewer {

inline constexpr int kDefaultPort = 49330;
inline constexpr int kDefaultQuality = 45;
inline constexpr int kDefaultImageWidth = 320;
inline constexpr int kDefaultImageHeight = 240;

// The viewer's stored settings (organisation "Vorlund", application "Vorlund-Remote"). Values
// that the protocol or the image buffers cannot take are read as their defaults.
struct ViewerSettings
{
    std::array<QString, 3> hosts { QStringLiteral("127.0.0.1"), QString(), QString() };
    int port = kDefaultPort;
    QString loginId;
    int quality = kDefaultQuality;
    std::array<bool, 4> cameraOn { true, true, true, true };
    int mode = 0; // 0 Automatic, 1 Manual
    bool beep = true;
    bool windowOnTop = false;
    int imageWidth = kDefaultImageWidth;
    int imageHeight = kDefaultImageHeight;
    LinkSettings link;
};

ViewerSettings LoadViewerSettings(QSettings &store);
// What the viewer writes at exit: the second and third host only when longer than 6
// characters, the login id only when longer than 4 (otherwise the stored values stay).
void SaveViewerSettings(QSettings &store, const ViewerSettings &settings);

// The main window's normal rectangle ("Frame").
struct FrameRect
{
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
};
// Only when all four values are present and the rectangle is not empty or inverted.
std::optional<FrameRect> LoadFrameRect(QSettings &store);
void SaveFrameRect(QSettings &store, const FrameRect &rect);

// A stored quality: outside 5-90 the default; else down to a multiple of 5, 40 as 45.
int StoredQuality(int value);
// A quality taken from the Configuration dialog: above 55 it is 60; else down to a multiple of
// 5, 40 as 45.
int ConfiguredQuality(int value);
// Whether the size keys can reach this image size (widths 160-640 in steps of 80, height 3/4).
bool IsReachableImageSize(int width, int height);

} // namespace vorlund::viewer
