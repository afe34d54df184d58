#include "SettingsFile.h"

#include <algorithm>
#include <bit>

namespace vorlund {

namespace {

// Sizes below which the optional field groups are absent (a group is present when the file
// is longer than its mark).
constexpr size_t kMailTextsAfter = 1974;
constexpr size_t kRelayAfter = 1800;
constexpr size_t kTimeLapseAfter = 1905;
constexpr size_t kAudioAfter = 2127;
constexpr size_t kCaptureAfter = 2352;
constexpr size_t kPtzAfter = 2406;
constexpr size_t kRolloverAfter = 2414;
constexpr size_t kTvAfter = 2442;
constexpr size_t kRecycleAfter = 2452;
constexpr size_t kEncoderAfter = 2460;
constexpr size_t kSubtypeAfter = 2485;

// Up to the first zero, and never more than width - 1 bytes even when there is none.
size_t TextLength(const uint8_t *p, size_t width)
{
    return static_cast<size_t>(std::find(p, p + (width - 1), 0) - p);
}

class FileWriter
{
public:
    explicit FileWriter(std::vector<uint8_t> &out) : m_out(out) { }

    static bool Group(size_t) { return true; }

    void Text(const std::string &text, size_t width)
    {
        const std::string stored = StoredText(text, width);
        m_out.insert(m_out.end(), stored.begin(), stored.end());
        m_out.insert(m_out.end(), width - stored.size(), 0);
    }
    void Zeros(size_t n) { m_out.insert(m_out.end(), n, 0); }
    void Field(uint8_t v) { m_out.push_back(v); }
    void Field(int32_t v) { Little(static_cast<uint32_t>(v), 4); }
    void Field(int64_t v) { Little(static_cast<uint64_t>(v), 8); }
    void Field(float v) { Little(std::bit_cast<uint32_t>(v), 4); }
    void Field(const Guid &g)
    {
        Little(g.Data1, 4);
        Little(g.Data2, 2);
        Little(g.Data3, 2);
        m_out.insert(m_out.end(), g.Data4.begin(), g.Data4.end());
    }
    void Field(const TimeWindow &w)
    {
        m_out.insert(m_out.end(), { w.FromHour, w.FromMinute, w.ToHour, w.ToMinute });
    }
    void SecondCopy(const Guid &g) { Field(g); }

private:
    void Little(uint64_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }

    std::vector<uint8_t> &m_out;
};

// Reads field by field from a byte span; a field that the span does not hold completely is
// skipped and keeps its value.
class FileReader
{
public:
    FileReader(std::span<const uint8_t> bytes, size_t fileSize)
        : m_bytes(bytes), m_fileSize(fileSize)
    { }

    bool Group(size_t presentAfter) const { return m_fileSize > presentAfter; }

    void Text(std::string &text, size_t width)
    {
        if (const uint8_t *p = Take(width))
            text.assign(reinterpret_cast<const char *>(p), TextLength(p, width));
    }
    void Zeros(size_t n) { Take(n); }
    void Field(uint8_t &v)
    {
        if (const uint8_t *p = Take(1))
            v = *p;
    }
    void Field(int32_t &v)
    {
        if (const uint8_t *p = Take(4))
            v = static_cast<int32_t>(Little(p, 4));
    }
    void Field(int64_t &v)
    {
        if (const uint8_t *p = Take(8))
            v = static_cast<int64_t>(Little(p, 8));
    }
    void Field(float &v)
    {
        if (const uint8_t *p = Take(4))
            v = std::bit_cast<float>(static_cast<uint32_t>(Little(p, 4)));
    }
    void Field(Guid &g)
    {
        if (const uint8_t *p = Take(16)) {
            g.Data1 = static_cast<uint32_t>(Little(p, 4));
            g.Data2 = static_cast<uint16_t>(Little(p + 4, 2));
            g.Data3 = static_cast<uint16_t>(Little(p + 6, 2));
            std::copy(p + 8, p + 16, g.Data4.begin());
        }
    }
    void Field(TimeWindow &w)
    {
        if (const uint8_t *p = Take(4))
            w = { p[0], p[1], p[2], p[3] };
    }
    // The value was read from its first copy, which is the one that counts.
    void SecondCopy(const Guid &) { Take(16); }

private:
    const uint8_t *Take(size_t n)
    {
        const size_t at = m_pos;
        m_pos += n;
        return m_pos <= m_bytes.size() ? m_bytes.data() + at : nullptr;
    }
    static uint64_t Little(const uint8_t *p, int bytes)
    {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= static_cast<uint64_t>(p[i]) << (8 * i);
        return v;
    }

    std::span<const uint8_t> m_bytes;
    size_t m_fileSize;
    size_t m_pos = 0;
};

template <typename Io, typename Array> void EachCamera(Io &io, Array &values)
{
    for (int c = 1; c <= kMaxCameras; ++c)
        io.Field(values[c]);
}

// The one description of the file: field order, widths and the groups older layouts lack.
// Config is DeviceConfig for reading and const DeviceConfig for writing.
template <typename Io, typename Config> void VisitDeviceFile(Io &io, Config &c)
{
    io.Text(c.DeviceName, kDeviceNameWidth);
    io.Text(c.CodecName, kCodecNameWidth);
    io.Text(c.VideoFolder, kVideoFolderWidth);
    io.Text(c.RemotePassword, kRemotePasswordWidth);
    io.Text(c.MailTo, kMailWidth);
    io.Text(c.MailFrom, kMailWidth);
    if (io.Group(kMailTextsAfter)) {
        io.Text(c.SmtpServer, kMailWidth);
        io.Text(c.SpareText1, kSpareText1Width);
        io.Text(c.SpareText2, kSpareText2Width);
    }

    auto &b = c.Block;
    io.Field(b.SwitcherComPort);
    io.Field(b.DetectionPeriod);
    io.Field(b.SnapshotLimit);
    io.Field(b.CameraCount);
    EachCamera(io, b.MotionEnabled);
    EachCamera(io, b.RecordOnMotion);
    EachCamera(io, b.RecordSeconds);
    EachCamera(io, b.SnapOnMotion);
    EachCamera(io, b.JpegQuality);
    EachCamera(io, b.MailOnMotion);
    io.Zeros(12);
    io.Field(b.AttachPicture);
    EachCamera(io, b.SoundOnMotion);
    io.Field(b.CameraOnePriority);
    io.Field(b.AutoCalibrate);
    io.Zeros(1);
    EachCamera(io, b.SnapshotCount);
    EachCamera(io, b.Sensitivity);
    for (auto &hour : b.ZoneHours)
        io.Field(hour);
    io.Field(b.RemoteEnabled);
    io.Field(b.RolloverOn);
    io.Zeros(2);
    io.Field(b.RemotePort);
    io.Field(b.CaptureWidth);
    io.Field(b.CaptureHeight);
    io.Field(c.CaptureSubtype);
    for (int cam = 1; cam <= kMaxCameras; ++cam) {
        for (int z = 1; z <= kZones; ++z) {
            for (auto &cell : b.ZoneMask[cam][z])
                io.Field(cell);
        }
    }

    if (io.Group(kRelayAfter)) {
        io.Field(c.RemoteMode);
        io.Text(c.RelayLogin, kRelayTextWidth);
        io.Text(c.RelayPassword, kRelayTextWidth);
    }
    if (io.Group(kTimeLapseAfter)) {
        EachCamera(io, c.TimeLapseEnabled);
        EachCamera(io, c.TimeLapseMinutes);
        EachCamera(io, c.TimeLapseLimit);
        EachCamera(io, c.TimeLapseWindow);
        EachCamera(io, c.TimeLapseCount);
        io.Field(c.LowDiskMail);
    }
    if (io.Group(kAudioAfter)) {
        io.Field(c.RecordAudio);
        io.Text(c.AudioDevice, kAudioDeviceWidth);
        io.Text(c.AudioInput, kAudioInputWidth);
        io.Field(c.InputLevel);
        io.Field(c.UseWmProfile);
        io.Text(c.WmProfilePath, kWmProfilePathWidth);
    }
    if (io.Group(kCaptureAfter)) {
        io.Field(c.FrameDuration);
        io.Field(c.MotionDistanceEnabled);
        EachCamera(io, c.MotionDistance);
        for (auto &spare : c.MotionDistanceSpare)
            io.Field(spare);
        io.Field(c.ContinuousRecord);
        io.Field(c.RecordWindow);
        io.Field(c.PtzComPort);
        EachCamera(io, c.PtzCamera);
    }
    if (io.Group(kPtzAfter)) {
        io.Field(c.PtzBaud);
        // A zero byte, then the addresses of cameras 1..3; camera 4's is not stored.
        io.Zeros(1);
        for (int cam = 1; cam <= 3; ++cam)
            io.Field(c.PtzAddress[cam]);
    }
    if (io.Group(kRolloverAfter)) {
        io.Field(c.RolloverMode);
        io.Field(c.RolloverMBytes);
        for (int cam = 1; cam <= kMaxCameras; ++cam) {
            for (int z = 1; z <= kZones; ++z)
                io.Field(c.ZoneSensitivity[cam][z]);
        }
        io.Field(c.ZoneSensitivityEnabled);
    }
    if (io.Group(kTvAfter)) {
        io.Field(c.TvRecord);
        io.Field(c.TvWindow);
        io.Field(c.VideoTimestamp);
        io.Field(c.TvChannel);
    }
    if (io.Group(kRecycleAfter)) {
        io.Field(c.RecycleEnabled);
        io.Field(c.RecycleMBytes);
    }
    if (io.Group(kEncoderAfter)) {
        io.Field(c.PtzProtocol);
        io.Field(c.SwitchType);
        io.Field(c.Wmv9FrameRate);
        io.Field(c.Wmv9Vbr);
        io.Field(c.Wmv9CbrQuality);
        io.Field(c.Wmv9Bitrate);
        io.Field(c.Wmv9VbrQuality);
    }
    if (io.Group(kSubtypeAfter)) {
        // The block's copy is applied last, so it wins over this one.
        io.SecondCopy(c.CaptureSubtype);
        io.Field(c.TvFormat);
    }
}

} // namespace

std::string StoredText(std::string_view text, size_t width)
{
    size_t n = std::min({ text.size(), width - 1, text.find('\0') });
    if (n < text.size()) {
        // Step back over UTF-8 continuation bytes so no character is cut in half.
        while (n > 0 && (static_cast<uint8_t>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    return std::string(text.substr(0, n));
}

std::vector<uint8_t> WriteDeviceFile(const DeviceConfig &config)
{
    std::vector<uint8_t> out;
    out.reserve(kDeviceFileSize);
    FileWriter writer(out);
    VisitDeviceFile(writer, config);
    return out;
}

bool ReadDeviceFile(std::span<const uint8_t> bytes, size_t fileSize, DeviceConfig &config)
{
    if (fileSize < kMinDeviceFileSize)
        return false;
    FileReader reader(bytes.first(std::min(bytes.size(), fileSize)), fileSize);
    VisitDeviceFile(reader, config);
    return true;
}

std::string ReadDeviceName(std::span<const uint8_t> bytes)
{
    // A name fills at most width - 1 bytes, as the writer leaves room for the terminator.
    const auto text = bytes.first(std::min(bytes.size(), kDeviceNameWidth - 1));
    const size_t n = static_cast<size_t>(std::find(text.begin(), text.end(), 0) - text.begin());
    return std::string(reinterpret_cast<const char *>(bytes.data()), n);
}

} // namespace vorlund
