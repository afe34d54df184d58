#pragma once

#include "DeviceConfig.h"
#include "Notifier.h"
#include "Profile.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace vorlund {

class EngineState;

inline constexpr int kDeviceSlots = 4;
inline constexpr int kFirstDeviceCommandId = 112;
inline constexpr size_t kMaxSettingsPath = 260;

inline constexpr std::string_view kPathTooLongMessage = "Configuration file path is too long...";
inline constexpr std::string_view kCorruptFileMessage
    = "Configuration file is corrupt...\nPlease reconfigure all settings for this device.";

// The engine's working copies of the per-camera settings. Copying in applies a loaded or reset
// configuration; copying out takes what the dialogs and the detector changed before a save.
void CopyIntoEngineState(const DeviceConfig &config, EngineState &engine);
void CopyOutOfEngineState(const EngineState &engine, DeviceConfig &config);
// The engine part of a reset: recording stopped, hit maps cleared, counters at their start.
void ResetEngineForDefaults(EngineState &engine);

// What a save needs from the view besides the settings themselves.
struct SaveRequest
{
    // Either of the first two enumerated capture devices has a name: there is a device to
    // save for.
    bool HaveDevice = false;
    int DeviceCommandId = kFirstDeviceCommandId; // 112..115 of the current device
    ProfileSettings ProfileValues; // the profile keys written after the file
};

// The settings of the current capture device: its file "device" + N + ".cfg" in the working
// folder, the slot N it lives in, and the engine values they feed. Runs on the UI thread.
class DeviceSettings
{
public:
    DeviceSettings(std::filesystem::path workingFolder, EngineState &engine, INotifier &notifier,
                   SettingsLogFunction log);

    // Resets every setting that has a default, in memory and in the engine. `resetOthers`,
    // when set, is called last for the run-time values that other parts of the view own
    // (remote counters, device lists).
    void SetDefaultSettings(const DefaultsContext &context);
    std::function<void()> ResetOthers;

    // Reads the file whose device name is `deviceName` and applies it. Returns true when a file
    // was applied; otherwise the settings in force stay (and defaults are applied when the
    // device had a slot but no file matches any more).
    bool LoadDeviceConfig(std::string_view deviceName);

    // Writes the current device's file (replacing it whole or not at all), then the profile
    // keys. Returns false when nothing was written; the user has been told why.
    bool SaveDeviceConfig(const SaveRequest &request, Profile &profile);

    std::filesystem::path SlotPath(int slot) const;

    DeviceConfig Config; // the stored form; engine fields are synchronised on load and save
    PtzState Ptz;
    int ConfigSlot = -1; // slot of the current device's file, -1 while none is known

private:
    bool PathTooLong() const;
    // Slot for a save, or -1 when the path is too long (the user has been told).
    int ChooseSlot(int deviceCommandId);
    void ApplyLoaded();

    std::filesystem::path m_folder;
    EngineState &m_engine;
    INotifier &m_notifier;
    SettingsLogFunction m_log;
    DefaultsContext m_defaults;
};

} // namespace vorlund
