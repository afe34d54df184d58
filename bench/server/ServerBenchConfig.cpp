// Writes a working folder for the server benchmark: the test camera at 720x576, recording
// continuously to AVI with MPEG-4 V3, capture starting by itself.
#include "DeviceSettings.h"
#include "EngineState.h"
#include "Notifier.h"
#include "Profile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s WORKING-FOLDER [CAMERAS]\n", argv[0]);
        return 2;
    }
    // With several cameras the card's inputs switch them (the test camera shows on each).
    const int cameras = argc == 3 ? std::atoi(argv[2]) : 1;
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder / "CaptureData");
    vorlund::EngineState engine;
    vorlund::RecordingNotifier notifier;
    vorlund::DeviceSettings settings(folder, engine, notifier, {});
    settings.SetDefaultSettings({ "Vorlund Test Camera", folder.string(), {} });
    vorlund::DeviceConfig &c = settings.Config;
    c.DeviceName = "Vorlund Test Camera";
    c.VideoFolder = (folder / "CaptureData").string();
    c.CodecName = "Microsoft MPEG-4 Video Codec V3";
    c.Block.CaptureWidth = 720;
    c.Block.CaptureHeight = 576;
    c.FrameDuration = 400000; // 25 fps in 100 ns units
    c.ContinuousRecord = 1;
    c.RecordWindow = { 0, 0, 23, 59 };
    c.Block.RolloverOn = 0;
    c.RolloverMBytes = 100000;
    c.Block.RemoteEnabled = cameras > 1 ? 1 : 0;
    if (cameras > 1) {
        c.Block.CameraCount = cameras;
        c.SwitchType = 1;
        c.ContinuousRecord = 0;
        c.Block.CaptureWidth = 320;
        c.Block.CaptureHeight = 240;
    }
    vorlund::CopyIntoEngineState(c, engine);
    vorlund::Profile profile(folder / "Vorlund.INI");
    vorlund::SaveRequest request;
    request.HaveDevice = true;
    request.ProfileValues.AutoStartDetect = 1;
    request.ProfileValues.LastDeviceDesc = c.DeviceName;
    if (!settings.SaveDeviceConfig(request, profile)) {
        std::fprintf(stderr, "could not write the settings: %s\n",
                     notifier.entries.empty() ? "?" : notifier.entries[0].text.c_str());
        return 1;
    }
    vorlund::WriteAutoStartDetect(profile, 1);
    return 0;
}
