// Windows Media profiles (".prx" files, UTF-16 XML): what a WMV recording's streams are, and
// the folder the codec chooser lists them from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorlund {

class INotifier;

inline constexpr size_t kMaxProfileBytes = 1024 * 1024;
inline constexpr size_t kMaxProfileStreams = 16;

struct WmStream
{
    enum class Kind { Video, Audio };
    Kind kind = Kind::Video;
    int32_t bitrate = 0; // bits per second, 0 when the profile gives none
    int32_t width = 0; // video only; 0 when the profile gives none
    int32_t height = 0;
};

struct WmProfileInfo
{
    std::vector<WmStream> streams; // in the profile's order
    const WmStream *Video() const;
    const WmStream *Audio() const;
};

// Reads the stream configurations of a profile's text. nullopt when the bytes are not UTF-16
// text, name no stream, or name a stream of another kind.
std::optional<WmProfileInfo> ParseWmProfile(std::span<const uint8_t> bytes);

struct LoadedProfile
{
    std::optional<WmProfileInfo> profile;
    int openError = 0; // errno when the file could not be opened
};

// Opens, reads (at most 1 MiB) and parses the profile file.
LoadedProfile LoadWmProfile(const std::filesystem::path &file);

// The codec chooser's profile folder ("profiles" under the working folder, mode 1) or the
// profile editor (mode 0, which does not exist here: the user is told so). 0 on success.
int RunProfileEditor(int mode, const std::filesystem::path &workingFolder, INotifier &notifier,
                     std::filesystem::path &profileFolder);

} // namespace vorlund
