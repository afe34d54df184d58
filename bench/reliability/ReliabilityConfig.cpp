// Writes a working folder for the reliability scripts (scripts/soak.sh, crash.sh, hostile.sh):
// the test camera at 320x240, 25 fps, recording continuously to AVI with MPEG-4 V3 and capture
// starting by itself; remote viewing on PORT. Options:
//   --rollover-mb N   a new recording every N MB (0: one recording)
//   --recycle-mb N    the nightly recycler keeps the recordings under N MB (0: off)
//   --timelapse-min M camera 1's time-lapse picture every M minutes, all day (0: off)
//   --password P      viewers must give P (at most 15 characters)
//   --check           writes nothing: loads the folder's settings and profile the way the server
//                     does and exits 0 when they hold the values the same options write
#include "DeviceSettings.h"
#include "EngineState.h"
#include "Notifier.h"
#include "Profile.h"
#include "WorkingFolder.h"

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
                 "[--timelapse-min M] [--password P] [--check]\n",
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
    loaded.SetDefaultSettings({ expected.DeviceName, folder.string(), {} });
    if (!loaded.LoadDeviceConfig(expected.DeviceName)) {
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
    vorlund::Profile profile(folder / vorlund::kProfileFileName);
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
    std::string password;
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
        else if (std::strcmp(argv[i], "--password") == 0 && std::strlen(argv[i + 1]) <= 15)
            password = argv[i + 1];
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

    const auto adjust = [&](vorlund::DeviceConfig &c) {
        c.Block.CaptureWidth = 320;
        c.Block.CaptureHeight = 240;
        // What the server fills in for an empty audio device; the check compares against it.
        c.AudioDevice = "Vorlund Test Audio";
        c.Block.RolloverOn = 0; // by size, not by the hour
        c.RolloverMBytes = rolloverMb > 0 ? rolloverMb : 100000;
        c.RecycleEnabled = recycleMb > 0 ? 1 : 0;
        c.RecycleMBytes = recycleMb > 0 ? recycleMb : 15000;
        c.TimeLapseEnabled[1] = timeLapseMinutes > 0.0f ? 1 : 0;
        if (timeLapseMinutes > 0.0f) {
            c.TimeLapseMinutes[1] = timeLapseMinutes;
            c.TimeLapseWindow[1] = { 0, 0, 23, 59 };
        }
        c.Block.RemoteEnabled = 1;
        c.Block.RemotePort = port;
        c.RemotePassword = password;
    };
    if (check)
        return CheckFolder(folder, vorlund::bench::WorkingFolderConfig(folder, adjust));
    return vorlund::bench::WriteWorkingFolder(folder, adjust) ? 0 : 1;
}
