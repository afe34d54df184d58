#include "DeviceSettings.h"

#include "EngineState.h"
#include "FileIo.h"
#include "SettingsFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace vorlund {

namespace {

// The settings that have a plain working copy in the engine, paired once for both
// directions: move(setting, engine field) copies one way or the other. Config and Engine
// carry the constness of the direction.
template <typename Config, typename Engine, typename Move>
void PairEngineFields(Config &config, Engine &engine, Move move)
{
    auto &b = config.Block;
    for (int c = 1; c <= kMaxCameras; ++c) {
        move(b.Sensitivity[c], engine.Sensitivity[c]);
        move(b.RecordOnMotion[c], engine.RecordOnMotion[c]);
        move(b.RecordSeconds[c], engine.RecordSeconds[c]);
        move(b.SnapOnMotion[c], engine.SnapOnMotion[c]);
        move(b.SoundOnMotion[c], engine.SoundOnMotion[c]);
        move(b.MailOnMotion[c], engine.MailOnMotion[c]);
        move(config.MotionDistance[c], engine.MotionDistance[c]);
        for (int z = 1; z <= kZones; ++z)
            move(config.ZoneSensitivity[c][z], engine.ZoneSensitivity[c][z]);
    }
    // The file holds camera 1's flags only; the other cameras keep theirs.
    move(config.MotionDistanceEnabled, engine.MotionDistanceEnabled[1]);
    move(config.ZoneSensitivityEnabled, engine.ZoneSensitivityEnabled[1]);
    move(b.CameraCount, engine.CameraCount);
    move(config.SwitchType, engine.SwitchType);
    move(b.CameraOnePriority, engine.CameraOnePriority);
    move(b.AutoCalibrate, engine.AutoCalibrate);
}

} // namespace

void CopyIntoEngineState(const DeviceConfig &config, EngineState &engine)
{
    PairEngineFields(config, engine, [](const auto &setting, auto &field) { field = setting; });
    const SettingsBlock &b = config.Block;
    for (int c = 1; c <= kMaxCameras; ++c) {
        engine.MotionEnabled[c] = b.MotionEnabled[c];
        engine.SavedMotionEnabled[c] = b.MotionEnabled[c];
        for (int z = 1; z <= kZones; ++z)
            engine.SetZoneMask(c, z, b.ZoneMask[c][z]);
    }
    // While a run has shortened the settle time, the configured value waits in SavedSettleTime.
    const auto period = static_cast<uint32_t>(std::max(b.DetectionPeriod, 1));
    if (engine.SavedSettleTime.load() != 0)
        engine.SavedSettleTime = period;
    else
        engine.SettleTime = period;
}

void CopyOutOfEngineState(const EngineState &engine, DeviceConfig &config)
{
    PairEngineFields(config, engine,
                     [](auto &setting, const auto &field) { setting = field.load(); });
    SettingsBlock &b = config.Block;
    for (int c = 1; c <= kMaxCameras; ++c) {
        // The working copy is cleared while a camera moves; the configured value is saved.
        b.MotionEnabled[c] = engine.SavedMotionEnabled[c];
        for (int z = 1; z <= kZones; ++z)
            b.ZoneMask[c][z] = engine.GetZoneMask(c, z);
    }
    // A run with one camera shortens the settle time; the configured period is the saved one.
    const uint32_t saved = engine.SavedSettleTime;
    const uint32_t period = saved != 0 ? saved : engine.SettleTime.load();
    b.DetectionPeriod
        = static_cast<int32_t>(std::min<uint32_t>(period, std::numeric_limits<int32_t>::max()));
}

void ResetEngineForDefaults(EngineState &engine)
{
    engine.ClearHitMaps();
    engine.TvMode = 0;
    engine.ReviewMode = 0;
    engine.DialogCamera = 0;
    engine.ZoneEditing = 0;
    engine.RecordCountdown = 0;
    engine.HoldTicks = 0;
    engine.SnapshotRequest.Cancel();
    engine.SlowCounter = 12001;
    engine.SlowPeriod = 12000;
    engine.SuppressCount = 10;
    engine.CalibratedZone = 5;
}

DeviceSettings::DeviceSettings(std::filesystem::path workingFolder, EngineState &engine,
                               INotifier &notifier, SettingsLogFunction log)
    : m_folder(std::move(workingFolder)), m_engine(engine), m_notifier(notifier),
      m_log(std::move(log))
{
    m_defaults.WorkingFolder = m_folder.string();
}

std::filesystem::path DeviceSettings::SlotPath(int slot) const
{
    return m_folder / ("device" + std::to_string(slot) + ".cfg");
}

bool DeviceSettings::PathTooLong() const
{
    return m_folder.string().size() + 13 > kMaxSettingsPath;
}

void DeviceSettings::SetDefaultSettings(const DefaultsContext &context)
{
    m_defaults = context;
    // Values without a default (and those set once at start) keep what the engine holds now.
    CopyOutOfEngineState(m_engine, Config);
    SetConfigDefaults(Config, context);
    Ptz = PtzState {};
    ResetEngineForDefaults(m_engine);
    CopyIntoEngineState(Config, m_engine);
    if (ResetOthers)
        ResetOthers();
}

bool DeviceSettings::LoadDeviceConfig(std::string_view deviceName)
{
    const std::string wanted = StoredText(deviceName, kDeviceNameWidth);
    // Files are read into a copy that is applied only when every read has succeeded, so a
    // half-read or corrupt file never changes the settings in force.
    DeviceConfig loaded = Config;
    int matched = -1;
    for (int slot = 0; slot < kDeviceSlots; ++slot) {
        if (PathTooLong()) {
            m_notifier.ShowMessage(kPathTooLongMessage, kPlainCaption);
            ConfigSlot = -1;
            return false;
        }
        const std::filesystem::path path = SlotPath(slot);
        std::vector<uint8_t> bytes;
        uint64_t size = 0;
        if (const int rc = ReadFileStart(path, kDeviceFileSize, bytes, size); rc != 0) {
            if (rc != ENOENT && m_log)
                m_log("Can't read " + path.filename().string() + ": "
                      + std::system_category().message(rc));
            continue;
        }
        if (ReadDeviceName(bytes) != wanted)
            continue;
        if (size < kMinDeviceFileSize) {
            m_notifier.ShowMessage(kCorruptFileMessage, kPlainCaption);
            std::error_code ec;
            std::filesystem::remove(path, ec);
            // The slot held before may be another device's: never save over it.
            ConfigSlot = -1;
            return false;
        }
        DeviceConfig next = loaded;
        ReadDeviceFile(bytes, size, next);
        CheckDeviceConfig(next, loaded, path.filename().string(), m_log);
        loaded = std::move(next);
        matched = slot;
    }

    if (matched < 0) {
        if (ConfigSlot != -1) {
            ConfigSlot = -1;
            DefaultsContext context = m_defaults;
            context.DeviceName = std::string(deviceName);
            SetDefaultSettings(context);
        }
        return false;
    }
    Config = std::move(loaded);
    Config.DeviceName = std::string(deviceName);
    ConfigSlot = matched;
    ApplyLoaded();
    return true;
}

void DeviceSettings::ApplyLoaded()
{
    CopyIntoEngineState(Config, m_engine);
    Ptz.AnyCamera = false;
    for (int c = 1; c <= kMaxCameras; ++c) {
        Ptz.CameraFlags[c] = Config.PtzCamera[c];
        Ptz.AnyCamera = Ptz.AnyCamera || Config.PtzCamera[c] != 0;
    }
    Ptz.CurrentAddress = Config.PtzAddress[1];
}

int DeviceSettings::ChooseSlot(int deviceCommandId)
{
    // A slot is free only when no file is there: a file we cannot open may be another
    // device's, and is never replaced on a guess.
    for (int slot = 0; slot < kDeviceSlots; ++slot) {
        struct stat st = {};
        if (::lstat(SlotPath(slot).c_str(), &st) != 0 && errno == ENOENT)
            return slot;
    }
    return std::clamp(deviceCommandId - kFirstDeviceCommandId, 0, kDeviceSlots - 1);
}

bool DeviceSettings::SaveDeviceConfig(const SaveRequest &request, Profile &profile)
{
    if (!request.HaveDevice)
        return false;
    if (PathTooLong()) {
        m_notifier.ShowMessage(kPathTooLongMessage, kPlainCaption);
        return false;
    }
    if (ConfigSlot < 0 || ConfigSlot >= kDeviceSlots)
        ConfigSlot = ChooseSlot(request.DeviceCommandId);

    CopyOutOfEngineState(m_engine, Config);
    const std::vector<uint8_t> bytes = WriteDeviceFile(Config);
    // The file holds passwords: owner only.
    if (const int rc = WriteFileIfChanged(SlotPath(ConfigSlot), bytes, 0600); rc != 0) {
        const std::string reason = std::system_category().message(rc);
        std::vector<char> text(64 + reason.size());
        std::snprintf(text.data(), text.size(), "Can't open deviceX.cfg\nError %d: %s", rc,
                      reason.c_str());
        m_notifier.ShowMessage(text.data(), kPlainCaption);
        return false;
    }

    SetSaveProfile(profile, request.ProfileValues, Config.DeviceName);
    if (const int rc = profile.Save(); rc != 0) {
        if (m_log)
            m_log("Can't write " + profile.Path().filename().string() + ": "
                  + std::system_category().message(rc));
        return false;
    }
    return true;
}

} // namespace vorlund
