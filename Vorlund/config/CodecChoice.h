// What the codec chooser and the WMV9 encoder dialog decide, without widgets: the profiles'
// display names, the chooser's OK rules and the WMV9 values' limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

class INotifier;
struct DeviceConfig;

inline constexpr std::string_view kNoCodecName = "(None)";
inline constexpr std::string_view kEmptyChoiceText
    = "Empty Field: Please select a Profile or Video Compressor.\n";
inline constexpr std::string_view kNoProfileEditorText
    = "Could not open the Windows Media Profile Editor.\nTo use this editor to create/edit your "
      "own custom profiles you\nmust install the Windows Media Encoder 9 Series.\n"
      "More info: see \"Windows Media recording\" in the README.\n";
inline constexpr std::string_view kProfilePathTooLongText
    = "The path of this Windows Media Profile is too long (at most 127 bytes).\nMove the "
      "profiles folder to a shorter path and choose the profile again.";

// The display name of a ".prx" file lies at this byte offset of the file's first 1023 bytes.
inline constexpr size_t kProfileNameOffset = 178;
inline constexpr size_t kProfileHeadBytes = 1023;
// At most this many profile files are listed.
inline constexpr size_t kMaxProfiles = 500;

// The display name read from a profile file's first bytes (at most 1023 are looked at): the
// UTF-16 units from byte 178 up to the first '"', as UTF-8 (control characters become '?'), so
// at most 422 units. nullopt when no '"' ends it within those bytes or the name is empty.
std::optional<std::string> ProfileDisplayName(std::span<const uint8_t> head);

// Display name → full path of its ".prx" file.
using ProfileMap = std::map<std::string, std::filesystem::path>;

enum class ProfileListResult {
    Ok,
    Failed, // no profile, or the first file could not be read (the user was told)
    EditorNotAvailable, // no profile folder
};

struct ProfileListing
{
    ProfileListResult result = ProfileListResult::Failed;
    ProfileMap profiles;
    // The current profile's display name when its file was listed, else the text given.
    std::string currentProfile;
};

// Lists the "*.prx" files of `folder` by name (a missing folder: EditorNotAvailable). A name
// that two files share is listed for the later file (by file name) with the file's name added,
// so each name stays with its own file. Reports what fails through `notifier`.
ProfileListing ListProfiles(const std::filesystem::path &folder, const std::string &currentProfile,
                            INotifier &notifier);

enum class CodecChoiceCheck {
    Ok,
    Empty, // kEmptyChoiceText
    NameTooLong, // the compressor name does not fit CodecName
    PathTooLong, // the chosen profile's path does not fit WmProfilePath
};

// Whether the chooser may close with OK with this selection.
CodecChoiceCheck CheckCodecChoice(std::string_view selection, bool useProfiles,
                                  const ProfileMap &profiles);

// The chooser's OK: UseWmProfile, then CodecName (without profiles) or WmProfilePath (a listed
// profile name; anything else changes nothing). The choice must have passed CheckCodecChoice.
void ApplyCodecChoice(DeviceConfig &config, std::string_view selection, bool useProfiles,
                      const ProfileMap &profiles);

// What the "Configure WMVideo9 Encoder" dialog edits.
struct Wm9Values
{
    float frameRate = 0; // frames per second
    int cbrBitrate = 0; // thousands of bits per second
    int cbrQuality = 0;
    int vbrQuality = 0;
    int useVbr = 0; // 0 "No", 1 "Yes"
};

inline constexpr float kWm9MinFrameRate = 15.0f;
inline constexpr float kWm9MaxFrameRate = 30.0f;

Wm9Values Wm9ValuesFrom(const DeviceConfig &config);
// The "default" button's values.
Wm9Values Wm9Defaults();
// Copies the dialog's values back, replacing those out of range by their defaults.
void ApplyWm9Values(const Wm9Values &values, DeviceConfig &config);

} // namespace vorlund
