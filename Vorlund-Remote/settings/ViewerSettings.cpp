#include "ViewerSettings.h"

namespace vorlund::viewer {

namespace {

int ReadInt(QSettings &store, const char *key, int fallback)
{
    bool ok = false;
    const int value = store.value(QLatin1String(key), fallback).toInt(&ok);
    return ok ? value : fallback;
}

uint16_t ReadPort(QSettings &store, const char *key, uint16_t fallback)
{
    const int port = ReadInt(store, key, fallback);
    return port >= 1 && port <= 65535 ? uint16_t(port) : fallback;
}

const char *const kHostKeys[3] = { "Host IP", "Host IP2", "Host IP3" };
const char *const kCamKeys[4] = { "Cam1", "Cam2", "Cam3", "Cam4" };

} // namespace

int StoredQuality(int value)
{
    if (value < 5 || value > 90)
        return kDefaultQuality;
    value -= value % 5;
    return value == 40 ? 45 : value;
}

int ConfiguredQuality(int value)
{
    if (value > 55)
        return 60;
    value -= value % 5;
    return value == 40 ? 45 : value;
}

bool IsReachableImageSize(int width, int height)
{
    return width >= 160 && width <= 640 && width % 80 == 0 && height == width / 4 * 3;
}

ViewerSettings LoadViewerSettings(QSettings &store)
{
    ViewerSettings s;
    for (size_t i = 0; i < 3; ++i)
        s.hosts[i] = store.value(QLatin1String(kHostKeys[i]), s.hosts[i]).toString();
    s.port = ReadPort(store, "Host Port", kDefaultPort);
    s.loginId = store.value(QStringLiteral("Email")).toString();
    s.quality = StoredQuality(ReadInt(store, "Quality", kDefaultQuality));
    for (size_t i = 0; i < 4; ++i)
        s.cameraOn[i] = ReadInt(store, kCamKeys[i], 1) != 0;
    s.mode = ReadInt(store, "Mode", 0) == 0 ? 0 : 1;
    s.beep = ReadInt(store, "Beep", 1) != 0;
    s.windowOnTop = ReadInt(store, "WindowOnTop", 0) != 0;
    s.link.lookupHost
        = store.value(QStringLiteral("Lookup Host"), QString::fromStdString(s.link.lookupHost))
              .toString()
              .toStdString();
    s.link.lookupPort = ReadPort(store, "Lookup Port", s.link.lookupPort);
    s.link.relayPort = ReadPort(store, "Relay Port", s.link.relayPort);

    store.beginGroup(QStringLiteral("Image"));
    const int width = ReadInt(store, "Width", -1);
    const int height = ReadInt(store, "Height", -1);
    store.endGroup();
    if (IsReachableImageSize(width, height)) {
        s.imageWidth = width;
        s.imageHeight = height;
    }
    return s;
}

void SaveViewerSettings(QSettings &store, const ViewerSettings &s)
{
    store.setValue(QStringLiteral("Host IP"), s.hosts[0]);
    for (size_t i = 1; i < 3; ++i)
        if (s.hosts[i].size() > 6)
            store.setValue(QLatin1String(kHostKeys[i]), s.hosts[i]);
    store.setValue(QStringLiteral("Host Port"), QString::number(s.port));
    if (s.loginId.size() > 4)
        store.setValue(QStringLiteral("Email"), s.loginId);
    store.setValue(QStringLiteral("Quality"), s.quality);
    for (size_t i = 0; i < 4; ++i)
        store.setValue(QLatin1String(kCamKeys[i]), s.cameraOn[i] ? 1 : 0);
    store.setValue(QStringLiteral("Mode"), s.mode == 0 ? 0 : 1);
    store.setValue(QStringLiteral("Beep"), s.beep ? 1 : 0);
    store.setValue(QStringLiteral("WindowOnTop"), s.windowOnTop ? 1 : 0);
    store.setValue(QStringLiteral("Lookup Host"), QString::fromStdString(s.link.lookupHost));
    store.setValue(QStringLiteral("Lookup Port"), int(s.link.lookupPort));
    store.setValue(QStringLiteral("Relay Port"), int(s.link.relayPort));
    store.beginGroup(QStringLiteral("Image"));
    store.setValue(QStringLiteral("Width"), s.imageWidth);
    store.setValue(QStringLiteral("Height"), s.imageHeight);
    store.endGroup();
}

std::optional<FrameRect> LoadFrameRect(QSettings &store)
{
    store.beginGroup(QStringLiteral("Frame"));
    const int top = ReadInt(store, "Top", -1);
    const int left = ReadInt(store, "Left", -1);
    const int bottom = ReadInt(store, "Bottom", -1);
    const int right = ReadInt(store, "Right", -1);
    const bool all = store.contains(QStringLiteral("Top")) && store.contains(QStringLiteral("Left"))
        && store.contains(QStringLiteral("Bottom")) && store.contains(QStringLiteral("Right"));
    store.endGroup();
    if (!all || right <= left || bottom <= top)
        return std::nullopt;
    return FrameRect { top, left, bottom, right };
}

void SaveFrameRect(QSettings &store, const FrameRect &rect)
{
    store.beginGroup(QStringLiteral("Frame"));
    store.setValue(QStringLiteral("Top"), rect.top);
    store.setValue(QStringLiteral("Left"), rect.left);
    store.setValue(QStringLiteral("Bottom"), rect.bottom);
    store.setValue(QStringLiteral("Right"), rect.right);
    store.endGroup();
}

} // namespace vorlund::viewer
