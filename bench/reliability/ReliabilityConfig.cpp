// Writes a working folder for the reliability scripts (scripts/soak.sh, crash.sh, hostile.sh):
// the test camera at 320x240, 25 fps, recording continuously to AVI with MPEG-4 V3 and capture
// starting by itself; remote viewing on PORT. Options:
//   --rollover-mb N   a new recording every N MB (0: one recording)
//   --recycle-mb N    the nightly recycler keeps the recordings under N MB (0: off)
//   --timelapse-min M camera 1's time-lapse picture every M minutes, all day (0: off)
//   --password P      viewers must give P (at most 15 characters)
//   --motion S        records S seconds after motion instead of continuously
//   --window-min M    with --motion: also records continuously from now until M minutes
//                     from now (local time), so the schedule's window ends during the run
//   --sound KIND      records the test sound too: avi (MP3), mp4 (AAC) or wmv (a Windows Media
//                     profile written to profiles/sound.prx)
//   --check           writes nothing: loads the folder's settings and profile the way the server
//                     does and exits 0 when they hold the values the same options write
#include "DeviceSettings.h"
#include "EngineState.h"
#include "Notifier.h"
#include "Profile.h"
#include "WmTestProfiles.h"
#include "WorkingFolder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

int Usage(const char *name)
{
    std::fprintf(
        stderr,
        "usage: %s WORKING-FOLDER PORT [--rollover-mb N] [--recycle-mb N] "
        "[--timelapse-min M] [--password P] [--motion S] [--window-min M] [--sound avi|mp4|wmv] "
        "[--check]\n",
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

// A Windows Media profile with a sound and a 320x240 picture stream, in UTF-16 as the profile
// editor writes it.
bool WriteSoundProfile(const std::filesystem::path &file)
{
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    vorlund::test::WriteBytes(file, vorlund::test::Utf16(vorlund::test::ProfileText(true, true)));
    return std::filesystem::exists(file, ec);
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
    int motionSeconds = 0;
    int windowMinutes = 0;
    std::string sound;
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
        else if (std::strcmp(argv[i], "--motion") == 0 && std::atoi(argv[i + 1]) > 0)
            motionSeconds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--window-min") == 0 && std::atoi(argv[i + 1]) > 0
                 && std::atoi(argv[i + 1]) < 60)
            windowMinutes = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--sound") == 0
                 && (std::strcmp(argv[i + 1], "avi") == 0 || std::strcmp(argv[i + 1], "mp4") == 0
                     || std::strcmp(argv[i + 1], "wmv") == 0))
            sound = argv[i + 1];
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
        if (motionSeconds > 0) {
            c.ContinuousRecord = 0;
            c.Block.RecordSeconds
                = { 0, motionSeconds, motionSeconds, motionSeconds, motionSeconds };
        }
        if (motionSeconds > 0 && windowMinutes > 0) {
            const std::time_t now = std::time(nullptr);
            std::tm from {}, to {};
            localtime_r(&now, &from);
            const std::time_t end = now + windowMinutes * 60;
            localtime_r(&end, &to);
            c.ContinuousRecord = 1;
            c.RecordWindow = { uint8_t(from.tm_hour), uint8_t(from.tm_min), uint8_t(to.tm_hour),
                               uint8_t(to.tm_min) };
        }
        if (!sound.empty()) {
            c.RecordAudio = 1;
            if (sound == "mp4")
                c.CodecName = "3ivx D4 Video Encoder";
            if (sound == "wmv") {
                c.UseWmProfile = 1;
                c.WmProfilePath = (folder / "profiles" / "sound.prx").string();
            }
        }
    };
    if (sound == "wmv" && !check && !WriteSoundProfile(folder / "profiles" / "sound.prx"))
        return 1;
    if (check)
        return CheckFolder(folder, vorlund::bench::WorkingFolderConfig(folder, adjust));
    return vorlund::bench::WriteWorkingFolder(folder, adjust) ? 0 : 1;
}
