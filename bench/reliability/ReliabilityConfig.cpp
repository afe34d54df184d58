// Writes a working folder for the reliability scripts (scripts/soak.sh, crash.sh, hostile.sh):
// the test camera at 320x240, 25 fps, recording continuously to AVI with MPEG-4 V3 and capture
// starting by itself; remote viewing on PORT without a password. Options:
//   --rollover-mb N   a new recording every N MB (0: one recording)
//   --recycle-mb N    the nightly recycler keeps the recordings under N MB (0: off)
//   --timelapse-min M camera 1's time-lapse picture every M minutes (0: off)
//   --check           writes nothing: loads the folder's settings and profile the way the server
//                     does and exits 0 when they hold the values the same options write
#include "DeviceSettings.h"
#include "EngineState.h"
#include "Notifier.h"
#include "Profile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

int Usage(const char *name)
{
    std::fprintf(stderr,
                 "usage: %s WORKING-FOLDER PORT [--rollover-mb N] [--recycle-mb N] "
                 "[--timelapse-min M] [--check]\n",
                 name);
    return 2;
}

// The server writes its counters back while it runs; everything else must read back as written.
int CheckFolder(const std::filesystem::path &folder, const vorlund::DeviceConfig &expected)
{
    vorlund::EngineState engine;
    vorlund::RecordingNotifier notifier;
    std::string logged;
    vorlund::DeviceSettings loaded(folder, engine, notifier,
                                   [&logged](std::string_view line) { logged += line; });
    loaded.SetDefaultSettings({ "Vorlund Test Camera", folder.string(), {} });
    if (!loaded.LoadDeviceConfig("Vorlund Test Camera")) {
        std::fprintf(stderr, "settings: the device file does not load\n");
        return 1;
    }
    vorlund::DeviceConfig got = loaded.Config;
    got.Block.SnapshotCount = expected.Block.SnapshotCount;
    got.TimeLapseCount = expected.TimeLapseCount;
    int failures = 0;
    if (!(got == expected)) {
        std::fprintf(stderr, "settings: the device file loads with other values\n");
        ++failures;
    }
    if (!notifier.entries.empty() || !logged.empty()) {
        std::fprintf(stderr, "settings: the load complained: %s%s\n",
                     notifier.entries.empty() ? "" : notifier.entries[0].text.c_str(),
                     logged.c_str());
        ++failures;
    }
    vorlund::Profile profile(folder / "Vorlund.INI");
    if (profile.GetProfileInt("Settings", "AutoStartDetect", 0) != 1
        || profile.GetProfileString("Video", "Last Device Desc", "") != expected.DeviceName) {
        std::fprintf(stderr, "profile: AutoStartDetect or Last Device Desc changed\n");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return Usage(argv[0]);
    const std::filesystem::path folder = argv[1];
    const int port = std::atoi(argv[2]);
    int rolloverMb = 0;
    int recycleMb = 0;
    float timeLapseMinutes = 0.0f;
    bool check = false;
    int i = 3;
    for (; i < argc && std::strcmp(argv[i], "--check") != 0; i += 2) {
        if (i + 1 >= argc)
            return Usage(argv[0]);
        if (std::strcmp(argv[i], "--rollover-mb") == 0)
            rolloverMb = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--recycle-mb") == 0)
            recycleMb = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--timelapse-min") == 0)
            timeLapseMinutes = std::strtof(argv[i + 1], nullptr);
        else
            return Usage(argv[0]);
    }
    if (i < argc) {
        check = true;
        if (i + 1 != argc)
            return Usage(argv[0]);
    }
    if (port < 1024 || port > 65535)
        return Usage(argv[0]);

    if (!check)
        std::filesystem::create_directories(folder / "CaptureData");
    vorlund::EngineState engine;
    vorlund::RecordingNotifier notifier;
    vorlund::DeviceSettings settings(folder, engine, notifier, {});
    settings.SetDefaultSettings({ "Vorlund Test Camera", folder.string(), {} });
    vorlund::DeviceConfig &c = settings.Config;
    c.DeviceName = "Vorlund Test Camera";
    c.VideoFolder = (folder / "CaptureData").string();
    c.CodecName = "Microsoft MPEG-4 Video Codec V3";
    c.Block.CaptureWidth = 320;
    c.Block.CaptureHeight = 240;
    // What the server fills in for an empty audio device; the check compares against it.
    c.AudioDevice = "Vorlund Test Audio";
    c.FrameDuration = 400000; // 25 fps in 100 ns units
    c.ContinuousRecord = 1;
    c.RecordWindow = { 0, 0, 23, 59 };
    c.Block.RolloverOn = 0; // by size, not by the hour
    c.RolloverMBytes = rolloverMb > 0 ? rolloverMb : 100000;
    c.RecycleEnabled = recycleMb > 0 ? 1 : 0;
    c.RecycleMBytes = recycleMb > 0 ? recycleMb : 15000;
    c.TimeLapseEnabled[1] = timeLapseMinutes > 0.0f ? 1 : 0;
    if (timeLapseMinutes > 0.0f)
        c.TimeLapseMinutes[1] = timeLapseMinutes;
    c.Block.RemoteEnabled = 1;
    c.Block.RemotePort = port;
    c.RemotePassword.clear();
    vorlund::CopyIntoEngineState(c, engine);
    if (check)
        return CheckFolder(folder, c);
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
