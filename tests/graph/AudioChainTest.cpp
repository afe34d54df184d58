// The audio chain: input lines and levels, the compressor of each format, recordings with sound
// from the test audio and from a camcorder, an unrecorded source that stays bound, and the
// messages of a chain that cannot be built.
#include "AudioChain.h"
#include "CaptureGraphSupport.h"
#include "GraphUtils.h"
#include "WmTestProfiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>

namespace vorlund::test {

namespace {

// An element factory taken out of the registry for a while: as if its package were missing.
class HiddenFactory
{
public:
    explicit HiddenFactory(const char *name)
        : m_feature(gst_registry_lookup_feature(gst_registry_get(), name))
    {
        if (m_feature)
            gst_registry_remove_feature(gst_registry_get(), m_feature);
    }
    ~HiddenFactory()
    {
        if (m_feature) {
            gst_registry_add_feature(gst_registry_get(), m_feature);
            gst_object_unref(m_feature);
        }
    }
    HiddenFactory(const HiddenFactory &) = delete;
    HiddenFactory &operator=(const HiddenFactory &) = delete;

private:
    GstPluginFeature *m_feature;
};

struct AudioFixture : GraphFixture
{
    explicit AudioFixture(std::string_view device, std::string_view codec) : GraphFixture(DvFile())
    {
        cameras.withAudio = true;
        view.AudioDevicePresent = true;
        settings.Config.AudioDevice = std::string(kTestAudioName);
        settings.Config.RecordAudio = 1;
        const bool dv = device == kDvFileCamera;
        Configure(device, dv ? kSubtypeDvsd : kSubtypeRgb24, dv ? 720 : 320, dv ? 576 : 240, codec);
    }
    void UseProfile(bool audio)
    {
        settings.Config.UseWmProfile = 1;
        settings.Config.WmProfilePath = (folder.path / "test.prx").string();
        WriteBytes(settings.Config.WmProfilePath, Utf16(ProfileText(audio, true)));
    }
    std::string LastBox() const
    {
        return notifier.entries.empty() ? "" : notifier.entries.back().text;
    }
    bool InPipeline(GstElement *element) const
    {
        GstObject *parent = element ? gst_object_get_parent(GST_OBJECT(element)) : nullptr;
        const bool inside = parent == GST_OBJECT(graph.Pipeline());
        if (parent)
            gst_object_unref(parent);
        return inside;
    }
};

// Runs the built graph with the gate opened `periods` times, each until `frames` more frames
// passed the video gate, shut in between while the grabber sees a few frames; then reads
// the recording back.
ReadBack RecordPeriods(AudioFixture &f, int periods, int frames)
{
    const bool dv = f.graph.Parts().kind == SourceKind::Dv;
    ElementRef gate
        = FindElementByName(GST_BIN(f.graph.Pipeline()), dv ? names::kAvi2 : names::kAvi);
    BufferCounter passed(gate.get(), "src");
    EXPECT_TRUE(f.graph.RunGraph());
    auto grabbed = [&] { return f.graph.Grabber().FramesDelivered(); };
    uint64_t mark = grabbed();
    EXPECT_TRUE(WaitFor([&] { return grabbed() > mark + 3; }));
    for (int p = 1; p <= periods; ++p) {
        f.graph.SetGateOpen(true);
        EXPECT_TRUE(WaitFor([&] { return passed.Count() >= p * frames; }));
        f.graph.SetGateOpen(false);
        mark = grabbed();
        EXPECT_TRUE(WaitFor([&] { return grabbed() > mark + 5; }));
    }
    const std::filesystem::path file = f.graph.RecordFile();
    f.graph.TearDownGraph();
    EXPECT_TRUE(f.graph.TakeGraphEvents().empty());
    return ReadRecording(file);
}

// The capture time of the first buffer a gate passes that ends after the time given to Arm (an
// earlier event's sound may still be on its way), the arriving buffer's length and
// how long everything passed before it lasts: the sink pad notes each arriving buffer's own
// time, the source pad keeps it when the buffer passes, less the head an opening cut off it.
class FirstPassed
{
public:
    explicit FirstPassed(GstElement *gate)
        : m_in(gst_element_get_static_pad(gate, "sink"), RefMode::HasRef),
          m_out(gst_element_get_static_pad(gate, "src"), RefMode::HasRef)
    {
        m_inProbe = gst_pad_add_probe(
            m_in.get(), GST_PAD_PROBE_TYPE_BUFFER,
            +[](GstPad *, GstPadProbeInfo *info, gpointer self) {
                GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                static_cast<FirstPassed *>(self)->m_arriving
                    = { GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer) };
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
        m_outProbe = gst_pad_add_probe(
            m_out.get(), GST_PAD_PROBE_TYPE_BUFFER,
            +[](GstPad *, GstPadProbeInfo *info, gpointer self) {
                auto *me = static_cast<FirstPassed *>(self);
                const GstClockTime passed = GST_BUFFER_DURATION(GST_PAD_PROBE_INFO_BUFFER(info));
                std::lock_guard lock(me->m_lock);
                auto [start, length] = me->m_arriving;
                if (GST_CLOCK_TIME_IS_VALID(passed) && passed < length)
                    start += length - passed;
                if (!me->m_first && start + length > me->m_after)
                    me->m_first = { start, length, me->m_before };
                if (GST_CLOCK_TIME_IS_VALID(passed))
                    me->m_before += passed;
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
    }
    ~FirstPassed()
    {
        gst_pad_remove_probe(m_in.get(), m_inProbe);
        gst_pad_remove_probe(m_out.get(), m_outProbe);
    }
    FirstPassed(const FirstPassed &) = delete;
    FirstPassed &operator=(const FirstPassed &) = delete;
    void Arm(GstClockTime after)
    {
        std::lock_guard lock(m_lock);
        m_after = after;
        m_first.reset();
    }
    struct Passed
    {
        GstClockTime start, length;
        GstClockTime before; // what the gate passed before this buffer lasts
    };
    std::optional<Passed> First()
    {
        std::lock_guard lock(m_lock);
        return m_first;
    }

private:
    PadRef m_in, m_out;
    gulong m_inProbe = 0, m_outProbe = 0;
    std::pair<GstClockTime, GstClockTime> m_arriving; // streaming thread only
    std::mutex m_lock;
    GstClockTime m_before = 0;
    GstClockTime m_after = 0;
    std::optional<Passed> m_first;
};

GstClockTime RunningTimeNow(GstElement *pipeline)
{
    ClockRef clock(gst_element_get_clock(pipeline), RefMode::HasRef);
    return gst_clock_get_time(clock.get()) - gst_element_get_base_time(pipeline);
}

} // namespace

// An opening records every frame captured from the call on: the first frame passed starts at
// most one frame period after it, and the sound played with it was captured with it, within
// half a sound packet. The gate passes whole packets behind the encoder, so the packet that
// starts an event may lie up to a packet from the frame in capture time; what it is heard
// with is that distance less how far the sound passed before runs ahead of the pictures.
TEST(AudioChain, GateOpeningsRecordFromTheFirstFrameAfterTheCall)
{
    AudioFixture f(kTestCameraName, "Microsoft MPEG-4 Video Codec V3");
    ASSERT_EQ(f.graph.Build(), kGraphOk) << f.LastBox();
    const GraphParts &parts = f.graph.Parts();
    FirstPassed video(parts.m_pAviControl.Element());
    FirstPassed sound(parts.m_pAudioControl.Element());
    // The packets behind the encoder carry sound captured before their times.
    guint delaySamples = 0;
    g_object_get(parts.m_pAudioControl.Element(), "encoder-delay", &delaySamples, nullptr);
    const double delay = double(delaySamples) * GST_SECOND / 44100;
    ASSERT_TRUE(f.graph.RunGraph());
    auto grabbed = [&] { return f.graph.Grabber().FramesDelivered(); };
    uint64_t mark = grabbed();
    ASSERT_TRUE(WaitFor([&] { return grabbed() > mark + 3; }));
    for (int opening = 1; opening <= 5; ++opening) {
        SCOPED_TRACE(opening);
        const GstClockTime call = RunningTimeNow(f.graph.Pipeline());
        video.Arm(call);
        sound.Arm(call + GstClockTime(delay));
        f.graph.SetGateOpen(true);
        ASSERT_TRUE(WaitFor([&] { return video.First() && sound.First(); }));
        f.graph.SetGateOpen(false);
        const auto [frame, period, pictures] = *video.First();
        const auto [start, length, sounds] = *sound.First();
        EXPECT_GE(frame, call);
        EXPECT_LE(frame, call + period)
            << "first frame " << double(frame - call) / GST_MSECOND << " ms after the call";
        const double captured = double(start) - delay - double(frame);
        const double apart = std::abs(captured - (double(sounds) - double(pictures)));
        EXPECT_LE(apart, double(length) / 2) << "sound " << apart / GST_MSECOND << " ms away";
        std::printf("opening %d: first frame %.1f ms after the call, sound captured %.1f ms "
                    "from it, heard %.1f ms from it (packet %.1f ms)\n",
                    opening, double(frame - call) / GST_MSECOND, captured / GST_MSECOND,
                    apart / GST_MSECOND, double(length) / GST_MSECOND);
        mark = grabbed();
        ASSERT_TRUE(WaitFor([&] { return grabbed() > mark + 5; }));
    }
    f.graph.TearDownGraph();
}

TEST(AudioChain, LevelsCompressorsAndInputLines)
{
    const std::pair<int, double> levels[]
        = { { 0, 1.0 }, { 1, 0.5 }, { 2, 0.2 }, { 3, 0.6 }, { -1, 0.6 }, { 99, 0.6 } };
    for (const auto &[level, gain] : levels)
        EXPECT_EQ(MixLevel(level), gain) << level;
    EXPECT_EQ(AudioCompressorName(RecordingFormat::Avi), "MPEG Layer-3");
    EXPECT_EQ(AudioCompressorName(RecordingFormat::Mp4), "3ivx D4 Audio Encoder");
    EXPECT_EQ(AudioCompressorName(RecordingFormat::Wmv), "");

    // Only the first 15 lines of a device can be chosen.
    std::vector<AudioLine> many;
    for (int i = 0; i < 16; ++i)
        many.push_back({ "Line " + std::to_string(i), {} });
    EXPECT_EQ(FindInputLine(many, "Line 2"), 2u);
    EXPECT_EQ(FindInputLine(many, "Line 14"), 14u);
    EXPECT_EQ(FindInputLine(many, "Line 15"), std::nullopt);
    EXPECT_EQ(FindInputLine(many, "Microphone"), std::nullopt);

    // No sound server answers here: a PulseAudio source has its one line, as any other source.
    const char *saved = std::getenv("PULSE_SERVER");
    const std::string savedServer = saved ? saved : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/vorlund-test", 1);
    const std::pair<const char *, std::vector<std::string>> sources[] = {
        { "audiotestsrc", { "Microphone", "Line In" } },
        { "pulsesrc", { "Microphone" } },
        { "fakesrc", { "Microphone" } },
    };
    for (const auto &[factory, expected] : sources) {
        ElementRef source(gst_element_factory_make(factory, nullptr), RefMode::HasRef);
        ASSERT_TRUE(source) << factory;
        std::vector<std::string> names;
        for (const AudioLine &line : AudioInputLines(source.get()))
            names.push_back(line.name);
        EXPECT_EQ(names, expected) << factory;
    }
    if (saved)
        setenv("PULSE_SERVER", savedServer.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}

namespace {

struct Found
{
    int chunks = 0;
    uint64_t bytes = 0;
};

// The complete chunks of an AVI file as it stands whose kind ends in one of `kinds` ("dc",
// "db": pictures; "wb": sound), walking its first movi list.
Found Chunks(const std::filesystem::path &file, std::initializer_list<const char *> kinds)
{
    const std::string d = ReadText(file);
    size_t at = d.find("movi");
    Found n;
    if (at == std::string::npos)
        return n;
    for (at += 4; at + 8 <= d.size();) {
        uint32_t size = 0;
        std::memcpy(&size, d.data() + at + 4, 4);
        if (at + 8 + size > d.size())
            break;
        for (const char *kind : kinds) {
            if (d.compare(at + 2, 2, kind) == 0) {
                ++n.chunks;
                n.bytes += size;
            }
        }
        at += 8 + size + (size & 1);
    }
    return n;
}

// The length its header gives the sound stream of an AVI file; -1: none.
int64_t SoundLength(const std::filesystem::path &file)
{
    const std::string d = ReadText(file);
    for (size_t at = d.find("strh"); at != std::string::npos && at + 8 + 36 <= d.size();
         at = d.find("strh", at + 4)) {
        if (d.compare(at + 8, 4, "auds") == 0) {
            uint32_t length = 0;
            std::memcpy(&length, d.data() + at + 8 + 32, 4);
            return length;
        }
    }
    return -1;
}

} // namespace

// When the gates shut, the event's pictures and sound go to disk within a packet or two of
// each, not after the quiet that follows: a power cut then loses none of them. The finished
// file's sound, whole packets of several events, is as long as its header says.
TEST(AudioChain, AnEventReachesTheAviFileWhenItsGatesShut)
{
    AudioFixture f(kTestCameraName, "Microsoft MPEG-4 Video Codec V3");
    ASSERT_EQ(f.graph.Build(), kGraphOk) << f.LastBox();
    const GraphParts &parts = f.graph.Parts();
    BufferCounter pictures(parts.m_pAviControl.Element(), "src");
    BufferCounter sounds(parts.m_pAudioControl.Element(), "src");
    BufferCounter soundsArriving(parts.m_pAudioControl.Element(), "sink");
    ASSERT_TRUE(f.graph.RunGraph());
    auto grabbed = [&] { return f.graph.Grabber().FramesDelivered(); };
    const uint64_t mark = grabbed();
    ASSERT_TRUE(WaitFor([&] { return grabbed() > mark + 3; }));
    const std::filesystem::path file = f.graph.RecordFile();
    for (int event = 1; event <= 4; ++event) {
        f.graph.SetGateOpen(true);
        ASSERT_TRUE(WaitFor([&] { return pictures.Count() >= event * 25; }));
        f.graph.SetGateOpen(false);
        // The gate has judged every packet of the event once ten more have reached it.
        const int arrived = soundsArriving.Count();
        ASSERT_TRUE(WaitFor([&] { return soundsArriving.Count() > arrived + 10; }));
        const struct
        {
            const char *name;
            const BufferCounter &passed;
            std::initializer_list<const char *> kinds;
        } streams[] = { { "pictures", pictures, { "dc", "db" } }, { "sound", sounds, { "wb" } } };
        for (const auto &stream : streams) {
            EXPECT_TRUE(WaitFor(
                [&] { return Chunks(file, stream.kinds).chunks >= stream.passed.Count() - 2; },
                std::chrono::seconds(5)))
                << event << ": " << Chunks(file, stream.kinds).chunks << " of "
                << stream.passed.Count() << " " << stream.name << " on disk";
        }
    }
    f.graph.TearDownGraph();
    // AVI plays the sound by its bytes: the header's length is the bytes of sound written.
    EXPECT_EQ(SoundLength(file), int64_t(Chunks(file, { "wb" }).bytes));
}

TEST(AudioChain, RecordingsCarrySoundAsLongAsTheirPictures)
{
    struct Case
    {
        const char *name;
        std::string_view device;
        const char *codec;
        bool wmv; // with a profile of sound and video
        bool recordAudio;
        const char *audioCodec; // factory, "" for none
        double rate;
    };
    const Case cases[] = {
        { "avi mp3", kTestCameraName, "Microsoft MPEG-4 Video Codec V3", false, true, "lamemp3enc",
          30 },
        { "mp4 aac", kTestCameraName, "3ivx D4 Video Encoder", false, true, "avenc_aac", 30 },
        { "wmv", kTestCameraName, "(None)", true, true, "avenc_wmav2", 30 },
        { "dv avi pcm", kDvFileCamera, "Microsoft MPEG-4 Video Codec V3", false, false, "", 12.5 },
        { "dv mp4 aac", kDvFileCamera, "3ivx D4 Video Encoder", false, false, "avenc_aac", 12.5 },
    };
    constexpr int kPeriods = 2;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AudioFixture f(c.device, c.codec);
        f.settings.Config.RecordAudio = c.recordAudio;
        if (c.wmv)
            f.UseProfile(true);
        ASSERT_EQ(f.graph.Build(), kGraphOk) << f.LastBox();
        EXPECT_TRUE(f.notifier.entries.empty()) << f.LastBox();
        const GraphParts &parts = f.graph.Parts();
        GstElementFactory *factory
            = parts.m_pAudioCodec ? gst_element_get_factory(parts.m_pAudioCodec.get()) : nullptr;
        EXPECT_STREQ(factory ? GST_OBJECT_NAME(factory) : "", c.audioCodec);
        const ReadBack back = RecordPeriods(f, kPeriods, int(c.rate));
        EXPECT_TRUE(back.ok);
        ASSERT_GT(back.audioBuffers, 0);
        if (c.device == kDvFileCamera) {
            // The camcorder's sound comes whatever RecordAudio says, and the pane says so.
            EXPECT_EQ(f.shell.panes[kPaneDevice], "DV Cam - Audio ON");
        }
        // Sound and picture cover the same moments: each open period may differ by one video
        // frame and one sound buffer (the source's, or the codec's frame when larger).
        const double buffer = std::max(back.longestAudioBuffer, 1024 / 44100.0);
        EXPECT_NEAR(back.audioSeconds, back.frames / c.rate, kPeriods * (1 / c.rate + buffer));
    }
}

TEST(AudioChain, AnUnrecordedSourceStaysBoundOutsideThePipeline)
{
    AudioFixture f(kTestCameraName, "Microsoft MPEG-4 Video Codec V3");
    f.settings.Config.RecordAudio = 0;
    f.settings.Config.AudioInput = std::string(kLineInLine);
    f.settings.Config.InputLevel = 2;
    ASSERT_EQ(f.graph.Build(), kGraphOk) << f.LastBox();
    const ElementRef source = f.graph.Parts().m_pAudioCapture;
    ASSERT_TRUE(source);
    EXPECT_FALSE(f.InPipeline(source.get()));
    EXPECT_FALSE(f.graph.Parts().m_pAudioControl.IsValid());
    EXPECT_FALSE(FindElementByName(GST_BIN(f.graph.Pipeline()), names::kAudio));
    // It runs: nothing unlinked stops the graph.
    ASSERT_TRUE(f.graph.RunGraph());
    const uint64_t start = f.graph.Grabber().FramesDelivered();
    EXPECT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > start + 10; }));
    f.graph.DrainBus();
    EXPECT_TRUE(f.graph.TakeGraphEvents().empty());

    // Kept across a rebuild that records it, then one that does not.
    for (const uint8_t record : { 1, 0 }) {
        SCOPED_TRACE(int(record));
        f.engine.KeepDeviceFilter = 1;
        f.graph.TearDownGraph();
        f.settings.Config.RecordAudio = record;
        ASSERT_EQ(f.graph.Build(), kGraphOk) << f.LastBox();
        EXPECT_EQ(f.graph.Parts().m_pAudioCapture.get(), source.get());
        EXPECT_EQ(f.InPipeline(source.get()), record != 0);
        EXPECT_EQ(f.graph.Parts().m_pAudioControl.IsValid(), record != 0);
        if (record) {
            // The stored line is chosen, at the stored level.
            ElementRef filter = f.graph.Parts().m_pAudioCapture;
            std::vector<std::string> lines;
            int index = -1;
            EXPECT_EQ(f.graph.SelectAudioInput(filter, &lines, &index), kGraphOk);
            EXPECT_EQ(lines, (std::vector<std::string> { "Microphone", "Line In" }));
            EXPECT_EQ(index, 1);
            gdouble volume = 0;
            g_object_get(f.graph.Parts().m_pAudioLevel.get(), "volume", &volume, nullptr);
            EXPECT_NEAR(volume, 0.2, 1e-6);
        }
        ASSERT_TRUE(f.graph.RunGraph());
        const uint64_t before = f.graph.Grabber().FramesDelivered();
        EXPECT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > before + 5; }));
        f.graph.DrainBus();
        EXPECT_TRUE(f.graph.TakeGraphEvents().empty());
    }
    // The dialog lists the bound device's lines, and another device's without choosing any.
    EXPECT_EQ(f.graph.ListAudioInputs(kTestAudioName),
              (std::vector<std::string> { "Microphone", "Line In" }));
    EXPECT_EQ(f.graph.ListAudioInputs("No Such Device"), std::nullopt);
    EXPECT_TRUE(f.notifier.entries.empty()) << f.LastBox();
    f.engine.KeepDeviceFilter = 0;
    f.graph.TearDownGraph();
}

TEST(AudioChain, WhatCannotBeBuiltIsReported)
{
    struct Case
    {
        const char *name;
        std::string_view device;
        const char *codec;
        int profileStreams; // 0: no Windows Media
        bool recordAudio;
        const char *hidden; // an element factory that is missing, or null
        std::string_view audioDevice;
        bool built;
        std::string_view box; // the start of the first box; empty: none
        bool soundRecorded;
    };
    const Case cases[] = {
        { "avi without an mp3 encoder records pcm", kTestCameraName,
          "Microsoft MPEG-4 Video Codec V3", 0, true, "lamemp3enc", kTestAudioName, true, "",
          true },
        { "mp4 without an aac encoder", kTestCameraName, "3ivx D4 Video Encoder", 0, true,
          "avenc_aac", kTestAudioName, false, "Could not connect MP3/AAC Comp. audio.\r\n\r\n",
          false },
        { "camcorder mp4 without an aac encoder", kDvFileCamera, "3ivx D4 Video Encoder", 0, false,
          "avenc_aac", kTestAudioName, false, "Could not connect MP3/AAC Comp. audio.\r\n\r\n",
          false },
        { "missing audio device", kTestCameraName, "Microsoft MPEG-4 Video Codec V3", 0, true,
          nullptr, "Gone Microphone", true, "Could not find Audio Input device.\r\n", false },
        { "missing audio gate", kTestCameraName, "Microsoft MPEG-4 Video Codec V3", 0, true,
          "vorlundaudio", kTestAudioName, true,
          "Could not create Vorlund_Audio filter.\r\nIs the VorlundAudio plugin "
          "(libVorlundAudio.so) in the program's plugin folder?",
          false },
        { "sound into a one-stream profile", kTestCameraName, "(None)", 1, true, nullptr,
          kTestAudioName, false,
          "WM Profile streams do not match.\r\nYou have chosen to record Audio and Video (2 "
          "streams)",
          false },
        { "camcorder into a one-stream profile", kDvFileCamera, "(None)", 1, false, nullptr,
          kTestAudioName, false,
          "WM Profile streams do not match.\r\nYou have chosen to record Audio and Video (2 "
          "streams)",
          false },
        { "no sound into a two-stream profile", kTestCameraName, "(None)", 2, false, nullptr,
          kTestAudioName, false,
          "WM Profile streams do not match.\r\nYou have chosen to record Video only (1 stream)",
          false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AudioFixture f(c.device, c.codec);
        f.settings.Config.RecordAudio = c.recordAudio;
        f.settings.Config.AudioDevice = std::string(c.audioDevice);
        if (c.profileStreams)
            f.UseProfile(c.profileStreams == 2);
        std::optional<HiddenFactory> hidden;
        if (c.hidden)
            hidden.emplace(c.hidden);
        EXPECT_EQ(f.graph.Build() >= 0, c.built) << f.LastBox();
        if (c.box.empty()) {
            EXPECT_TRUE(f.notifier.entries.empty()) << f.LastBox();
        } else {
            ASSERT_FALSE(f.notifier.entries.empty());
            EXPECT_TRUE(f.notifier.entries[0].text.starts_with(c.box))
                << f.notifier.entries[0].text;
        }
        if (c.built) {
            hidden.reset();
            const ReadBack back = RecordPeriods(f, 1, 15);
            EXPECT_TRUE(back.ok);
            EXPECT_EQ(back.audioBuffers > 0, c.soundRecorded);
        }
        f.graph.TearDownGraph();
    }
}

} // namespace vorlund::test
