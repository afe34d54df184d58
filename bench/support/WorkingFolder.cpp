#include "WorkingFolder.h"

#include "DeviceSettings.h"
#include "EngineState.h"
#include "Notifier.h"
#include "Profile.h"

#include <cstdio>

namespace vorlund::bench {

namespace {

constexpr const char *kTestCamera = "Vorlund Test Camera";

void Fill(DeviceSettings &settings, const std::filesystem::path &folder,
          const std::function<void(DeviceConfig &)> &adjust)
{
    settings.SetDefaultSettings({ kTestCamera, folder.string(), {} });
    DeviceConfig &c = settings.Config;
    c.DeviceName = kTestCamera;
    c.VideoFolder = (folder / "CaptureData").string();
    c.CodecName = "Microsoft MPEG-4 Video Codec V3";
    c.FrameDuration = 400000; // 25 fps in 100 ns units
    c.ContinuousRecord = 1;
    c.RecordWindow = { 0, 0, 23, 59 };
    if (adjust)
        adjust(c);
}

} // namespace

DeviceConfig WorkingFolderConfig(const std::filesystem::path &folder,
                                 const std::function<void(DeviceConfig &)> &adjust)
{
    EngineState engine;
    RecordingNotifier notifier;
    DeviceSettings settings(folder, engine, notifier, {});
    Fill(settings, folder, adjust);
    return settings.Config;
}

bool WriteWorkingFolder(const std::filesystem::path &folder,
                        const std::function<void(DeviceConfig &)> &adjust)
{
    std::error_code ec;
    std::filesystem::create_directories(folder / "CaptureData", ec);
    EngineState engine;
    RecordingNotifier notifier;
    DeviceSettings settings(folder, engine, notifier, {});
    Fill(settings, folder, adjust);
    CopyIntoEngineState(settings.Config, engine);
    Profile profile(folder / kProfileFileName);
    SaveRequest request;
    request.HaveDevice = true;
    request.ProfileValues.AutoStartDetect = 1;
    request.ProfileValues.LastDeviceDesc = settings.Config.DeviceName;
    if (!settings.SaveDeviceConfig(request, profile)) {
        std::fprintf(stderr, "could not write the settings: %s\n",
                     notifier.entries.empty() ? "?" : notifier.entries[0].text.c_str());
        return false;
    }
    return WriteAutoStartDetect(profile, 1);
}

} // namespace vorlund::bench
