#pragma once

#include "DeviceConfig.h"
#include "EngineState.h"

#include <cstdint>
#include <string>

namespace vorlund {

struct ServerContext;
class Profile;

inline constexpr uint8_t kTimeUnset = 255;
inline constexpr int kDvStandardNtsc = 2000;
inline constexpr int kDvStandardPal = 2001;
inline constexpr std::string_view kDvEncoderName = "DV Video Encoder";

// A clock time of a window: both parts valid, else the window end is unset.
inline bool IsClockTime(uint8_t hour, uint8_t minute)
{
    return hour < 24 && minute < 60;
}

// What "Advanced Settings" edits.
struct AdvancedValues
{
    int Continuous = 0;
    // Start and end of continuous recording; an end whose hour or minute is 255 is unset.
    TimeWindow RecordWindow { kTimeUnset, kTimeUnset, kTimeUnset, kTimeUnset };
    int CameraCount = 1; // read only
    int TvMode = 0; // read only
    int PtzPortIndex = 2; // 0-based: "Com1" = 0
    int PtzBaud = 2400;
    int PtzProtocol = 0; // 0 "Pelco D", 1 "Sony VISCA"
    int DvStandard = kDvStandardNtsc;
    PerCamera<int> PtzCamera {};
    PerCamera<uint8_t> PtzAddress { 0, 1, 2, 3, 4 };
    int DvProgressive = 0;
    int DvFullSize = 0;
    int DvRgb219 = 0;

    bool operator==(const AdvancedValues &) const = default;
};

// What "Email Settings" edits.
struct MailValues
{
    std::string To;
    std::string From;
    std::string Server;
    int Attach = 0;
    int LowDisk = 0;

    bool operator==(const MailValues &) const = default;
};

// What "Configuration" edits, with its nested dialogs' values. Member initialisers are the
// dialog's construction defaults; the caller overwrites them all.
struct ConfigurationValues
{
    int SwitchDelay = 200;
    int ListenPort = kDefaultRemotePort;
    int CameraOnePriority = 0; // carried through
    int AutoStart = 0;
    int RemoteAllowed = 0;
    int CameraCount = 1;
    int SwitcherPortIndex = 1; // 0-based
    int RolloverTimeChoice = 0; // 0 "Once", 1 "Twice", 2 "4 times", 3 "Never"
    int SwitchType = 0; // 0 external switcher, 1 4-port card
    int RolloverSize = 250;
    std::string VideoFolder;
    std::string Password;
    int ResetPressed = 0;
    int SnapshotLimit = 500;
    // Held here until Configuration ends with OK.
    std::string RelayLogin;
    std::string RelayPassword;
    MailValues Mail;
    AdvancedValues Advanced; // its camera count and TV mode are filled when it opens
    int RolloverByTime = 0; // 1 = new file by time of day, 0 = by size
    int AutomaticChecked = 0;
    int RemoteMode = 0; // 1 "Manual  => " (inbound server), 0 "Automatic =>" (relay)
    int Timestamp = 0;
    int RecycleOn = 0;
    int RecycleSize = 15000;

    bool operator==(const ConfigurationValues &) const = default;
};

// The current settings in the dialog's form ("ComN" as index N-1, PTZ flags sign-extended,
// TV mode read only).
ConfigurationValues CopyInConfiguration(const ServerContext &context);

// "Advanced": continuous recording needs exactly one camera, so it is switched off first.
AdvancedValues AdvancedForDialog(ConfigurationValues &values);
// Back from "Advanced" after OK: an end that is not a clock time becomes 255, 255.
void TakeAdvancedValues(ConfigurationValues &values, const AdvancedValues &advanced);

// Back from "Email Settings" after OK: the texts always, the two flags only with a recipient.
void TakeMailValues(ConfigurationValues &values, const MailValues &mail);

// Camera 4's PTZ address has no place in the device file; the profile keeps it.
void ReadPtzAddress4(const Profile &profile, DeviceConfig &config);
bool WritePtzAddress4(Profile &profile, uint8_t address);

} // namespace vorlund
