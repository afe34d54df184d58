#include "CodecChoice.h"

#include "DeviceConfig.h"
#include "FieldChecks.h"
#include "Notifier.h"

#include <algorithm>
#include <fstream>

namespace vorlund {

namespace {

void AppendUtf8(std::string &out, uint32_t c)
{
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

bool IsProfileFile(const std::filesystem::path &file)
{
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return ext == ".prx";
}

std::optional<std::vector<uint8_t>> ReadHead(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> head(kProfileHeadBytes);
    in.read(reinterpret_cast<char *>(head.data()), std::streamsize(head.size()));
    if (in.bad())
        return std::nullopt;
    head.resize(size_t(in.gcount()));
    return head;
}

} // namespace

std::optional<std::string> ProfileDisplayName(std::span<const uint8_t> head)
{
    if (head.size() > kProfileHeadBytes)
        head = head.first(kProfileHeadBytes);
    std::string name;
    for (size_t i = kProfileNameOffset; i < head.size(); i += 2) {
        // The quote may be the last byte read: only its low byte counts.
        uint32_t unit = head[i] | (i + 1 < head.size() ? uint32_t(head[i + 1]) << 8 : 0);
        if (unit == '"')
            return name.empty() ? std::nullopt : std::optional(name);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < head.size()) {
            const uint32_t low = head[i + 2] | (uint32_t(head[i + 3]) << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(name, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF)
            unit = 0xFFFD; // a lone surrogate
        AppendUtf8(name, unit < 0x20 || unit == 0x7F ? '?' : unit);
    }
    return std::nullopt;
}

ProfileListing ListProfiles(const std::filesystem::path &folder, const std::string &currentProfile,
                            INotifier &notifier)
{
    ProfileListing listing;
    listing.currentProfile = currentProfile;
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
        listing.result = ProfileListResult::EditorNotAvailable;
        return listing;
    }
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (IsProfileFile(it->path()) && !it->is_directory(ec))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    if (files.size() > kMaxProfiles)
        files.resize(kMaxProfiles);
    if (files.empty()) {
        ShowErrorBox(notifier, "Cannot find any Windows Media Profiles");
        return listing;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const std::optional<std::vector<uint8_t>> head = ReadHead(files[i]);
        if (!head) {
            if (i == 0) {
                ShowErrorBox(notifier, "Error opening a Windows Media Profile");
                listing.profiles.clear();
                return listing;
            }
            ShowErrorBox(notifier, "Error opening a Windows Media Profiles");
            continue;
        }
        // A file with no readable name is listed by its file name.
        std::string name = ProfileDisplayName(*head).value_or(files[i].stem().string());
        if (listing.profiles.count(name)) {
            const std::string base = name + " (" + files[i].filename().string() + ")";
            name = base;
            for (int n = 2; listing.profiles.count(name); ++n)
                name = base + " " + std::to_string(n);
        }
        listing.profiles[name] = files[i];
        if (currentProfile == files[i].string())
            listing.currentProfile = name;
    }
    listing.result = ProfileListResult::Ok;
    return listing;
}

CodecChoiceCheck CheckCodecChoice(std::string_view selection, bool useProfiles,
                                  const ProfileMap &profiles)
{
    if (selection.empty())
        return CodecChoiceCheck::Empty;
    if (!useProfiles)
        return FitsField(selection, kCodecNameWidth) ? CodecChoiceCheck::Ok
                                                     : CodecChoiceCheck::NameTooLong;
    const auto found = profiles.find(std::string(selection));
    if (found != profiles.end() && !FitsField(found->second.string(), kWmProfilePathWidth))
        return CodecChoiceCheck::PathTooLong;
    return CodecChoiceCheck::Ok;
}

void ApplyCodecChoice(DeviceConfig &config, std::string_view selection, bool useProfiles,
                      const ProfileMap &profiles)
{
    config.UseWmProfile = useProfiles ? 1 : 0;
    if (!useProfiles) {
        config.CodecName = std::string(selection);
        return;
    }
    const auto found = profiles.find(std::string(selection));
    if (found != profiles.end() && FitsField(found->second.string(), kWmProfilePathWidth))
        config.WmProfilePath = found->second.string();
}

Wm9Values Wm9ValuesFrom(const DeviceConfig &config)
{
    return { config.Wmv9FrameRate, config.Wmv9Bitrate / 1000, config.Wmv9CbrQuality,
             config.Wmv9VbrQuality, config.Wmv9Vbr ? 1 : 0 };
}

Wm9Values Wm9Defaults()
{
    return { 24.0f, 700, 50, 50, 1 };
}

void ApplyWm9Values(const Wm9Values &values, DeviceConfig &config)
{
    const bool rateFits = values.frameRate >= 10.0f && values.frameRate <= 30.0f; // NaN: no
    config.Wmv9FrameRate = rateFits ? values.frameRate : 24.0f;
    // In 64 bits: a large entry must not wrap into the allowed range.
    const int64_t bitrate = int64_t(values.cbrBitrate) * 1000;
    config.Wmv9Bitrate = bitrate < 100000 || bitrate > 2000000 ? 700000 : int32_t(bitrate);
    config.Wmv9VbrQuality
        = values.vbrQuality < 4 || values.vbrQuality > 100 ? 50 : values.vbrQuality;
    config.Wmv9CbrQuality = values.cbrQuality;
    config.Wmv9Vbr = values.useVbr != 0 ? 1 : 0;
}

} // namespace vorlund
