// The device settings loader on arbitrary file contents: the byte reader with its range checks,
// and the whole load from a real file in a scratch folder.
#include "DeviceSettings.h"
#include "EngineState.h"
#include "SettingsFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

namespace {

using namespace vorlund;

class NullNotifier : public INotifier
{
public:
    void ShowMessage(std::string_view, std::string_view) override { }
    bool AskYesNo(std::string_view, std::string_view) override { return false; }
};

const std::filesystem::path &ScratchFolder()
{
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorlund-fuzz-XXXXXX");
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return std::filesystem::path(pattern);
    }();
    return folder;
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckInvariants(const DeviceConfig &c)
{
    Require(c.Block.CameraCount >= 1 && c.Block.CameraCount <= kMaxCameras);
    Require(c.Block.CaptureWidth >= 1 && c.Block.CaptureWidth <= kMaxFrameWidth);
    Require(c.Block.CaptureHeight >= 1 && c.Block.CaptureHeight <= kMaxFrameHeight);
    Require(c.Block.DetectionPeriod >= 1 && c.Block.DetectionPeriod < 1500);
    Require(c.Block.RemotePort >= 1 && c.Block.RemotePort <= 65535);
    Require(c.DeviceName.size() < kDeviceNameWidth && c.VideoFolder.size() < kVideoFolderWidth);
    Require(!c.VideoFolder.empty());
    for (int cam = 1; cam <= kMaxCameras; ++cam) {
        Require(c.Block.JpegQuality[cam] >= 10 && c.Block.JpegQuality[cam] <= 100);
        Require(c.TimeLapseMinutes[cam] > 0.0f);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    DeviceConfig defaults;
    SetConfigDefaults(defaults, { "fuzz", "/tmp", "" });

    // Read, check, write, read again: the checked record survives its own round trip.
    DeviceConfig read = defaults;
    if (ReadDeviceFile(bytes, read)) {
        CheckDeviceConfig(read, defaults, "fuzz", {});
        CheckInvariants(read);
        const std::vector<uint8_t> written = WriteDeviceFile(read);
        Require(written.size() == kDeviceFileSize);
        DeviceConfig again = defaults;
        Require(ReadDeviceFile(written, again));
        Require(CheckDeviceConfig(again, defaults, "fuzz", {}) == 0);
        again.PtzAddress[4] = read.PtzAddress[4];
        Require(again == read);
    }

    // The whole load from a file whose name matches.
    static EngineState engine;
    static NullNotifier notifier;
    const std::filesystem::path path = ScratchFolder() / "device1.cfg";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    DeviceSettings settings(ScratchFolder(), engine, notifier, {});
    settings.SetDefaultSettings({ "", ScratchFolder().string(), "" });
    const std::string name = ReadDeviceName(bytes);
    if (settings.LoadDeviceConfig(name)) {
        CheckInvariants(settings.Config);
        Require(settings.ConfigSlot == 1);
        Require(engine.CameraCount.load() == settings.Config.Block.CameraCount);
    } else {
        Require(settings.ConfigSlot == -1);
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return 0;
}
