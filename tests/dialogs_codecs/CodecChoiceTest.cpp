// The codec chooser's rules without a window: profile names read from crafted files, the
// profile listing, the OK rules, the WMV9 values' limits, and an encoder's kept settings on a
// real GStreamer encoder.
#include "CodecChoice.h"
#include "CodecChooser.h"
#include "CodecState.h"
#include "DeviceConfig.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace vorlund::test {

namespace {

// A profile's first bytes as the profile editor writes them: a byte-order mark, then text that
// puts the name's value at byte 178.
std::vector<uint8_t> Prx(const std::u16string &name, bool closeQuote = true)
{
    std::u16string text = u"<profile version=\"589824\"\r\n             storageformat=\"1\"";
    text += std::u16string(88 - text.size() - 7, u' ');
    text += u" name=\"";
    text += name;
    if (closeQuote)
        text += u"\"\r\n             description=\"\">\r\n</profile>";
    std::vector<uint8_t> bytes { 0xFF, 0xFE };
    for (char16_t c : text) {
        bytes.push_back(uint8_t(c & 0xFF));
        bytes.push_back(uint8_t(c >> 8));
    }
    return bytes;
}

void Write(const std::filesystem::path &file, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

TEST(CodecChoice, ProfileNamesAreReadFromByte178UpToTheQuoteWithinTheFirst1023Bytes)
{
    ASSERT_EQ(Prx(u"x").size() > kProfileNameOffset, true);
    ASSERT_EQ(Prx(u"x")[kProfileNameOffset], 'x');
    struct Case
    {
        const char *name;
        std::vector<uint8_t> bytes;
        std::optional<std::string> expected;
    };
    std::vector<uint8_t> longName = Prx(std::u16string(500, u'a'));
    std::vector<uint8_t> justFits = Prx(std::u16string((1023 - 178) / 2, u'b'));
    std::vector<uint8_t> shortFile(100, 'x');
    std::vector<uint8_t> odd = Prx(u"Odd");
    odd.resize(kProfileNameOffset + 7); // "Odd" and one byte of the quote
    const Case cases[] = {
        { "ascii", Prx(u"Surveillance 320x240"), "Surveillance 320x240" },
        { "latin", Prx(u"Überwachung é"), "Überwachung é" },
        { "beyond-latin", Prx(u"Ģ\u0122 name"), "ĢĢ name" }, // low byte 0x22 is not the quote
        { "surrogates", Prx(u"cam \U0001F600"), "cam \U0001F600" },
        { "lone-surrogate", Prx(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a\uFFFDb" },
        { "control", Prx(u"a\tb\u0001"), "a?b?" },
        { "empty", Prx(u""), std::nullopt },
        { "no-quote", Prx(u"Open", false), std::nullopt },
        { "quote-beyond-1023", longName, std::nullopt },
        { "longest", justFits, std::string(422, 'b') }, // the quote's low byte is byte 1023
        { "short-file", shortFile, std::nullopt },
        { "cut-quote", odd, "Odd" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ProfileDisplayName(c.bytes), c.expected);
    }
    std::vector<uint8_t> beyond = Prx(std::u16string((1023 - 178) / 2 + 1, u'c'));
    EXPECT_EQ(ProfileDisplayName(beyond), std::nullopt);
}

TEST(CodecChoice, ListingKeepsEachNameWithItsOwnFileAndReportsWhatFails)
{
    TempFolder root;
    RecordingNotifier notifier;
    const std::filesystem::path folder = root.path / "profiles";

    ProfileListing missing = ListProfiles(folder, "", notifier);
    EXPECT_EQ(missing.result, ProfileListResult::EditorNotAvailable);
    EXPECT_TRUE(notifier.entries.empty());

    std::filesystem::create_directory(folder);
    Write(folder / "notes.txt", Prx(u"Not a profile"));
    EXPECT_EQ(ListProfiles(folder, "", notifier).result, ProfileListResult::Failed);
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Cannot find any Windows Media Profiles");
    EXPECT_EQ(notifier.entries[0].caption, kErrorBoxCaption);

    Write(folder / "a.prx", Prx(u"Same"));
    Write(folder / "b.prx", Prx(u"Same"));
    Write(folder / "C.PRX", Prx(u"Unnamed", false));
    Write(folder / "d.prx", Prx(u"Night"));
    std::filesystem::create_symlink(folder / "gone", folder / "z.prx");
    notifier.entries.clear();
    const ProfileListing listing = ListProfiles(folder, (folder / "b.prx").string(), notifier);
    EXPECT_EQ(listing.result, ProfileListResult::Ok);
    const ProfileMap expected { { "Same", folder / "a.prx" },
                                { "Same (b.prx)", folder / "b.prx" },
                                { "C", folder / "C.PRX" },
                                { "Night", folder / "d.prx" } };
    EXPECT_EQ(listing.profiles, expected);
    EXPECT_EQ(listing.currentProfile, "Same (b.prx)");
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Error opening a Windows Media Profiles");

    // The first file unreadable: nothing is listed.
    std::filesystem::create_symlink(folder / "gone", folder / "0.prx");
    notifier.entries.clear();
    const ProfileListing failed = ListProfiles(folder, "/elsewhere.prx", notifier);
    EXPECT_EQ(failed.result, ProfileListResult::Failed);
    EXPECT_TRUE(failed.profiles.empty());
    EXPECT_EQ(failed.currentProfile, "/elsewhere.prx");
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Error opening a Windows Media Profile");
}

TEST(CodecChoice, OkNeedsAChoiceThatFitsItsFieldAndStoresOnlyListedProfiles)
{
    const std::string longPath = "/p/" + std::string(130, 'x') + ".prx";
    const ProfileMap profiles { { "Day", "/p/day.prx" }, { "Long", longPath } };
    struct Case
    {
        const char *selection;
        bool profiles;
        CodecChoiceCheck check;
    };
    const std::string name64(64, 'n');
    const Case cases[] = {
        { "", false, CodecChoiceCheck::Empty },
        { "", true, CodecChoiceCheck::Empty },
        { "(None)", false, CodecChoiceCheck::Ok },
        { name64.c_str(), false, CodecChoiceCheck::NameTooLong },
        { name64.c_str() + 1, false, CodecChoiceCheck::Ok },
        { "Day", true, CodecChoiceCheck::Ok },
        { "Long", true, CodecChoiceCheck::PathTooLong },
        { "Typed by hand", true, CodecChoiceCheck::Ok },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.selection);
        EXPECT_EQ(CheckCodecChoice(c.selection, c.profiles, profiles), c.check);
    }

    DeviceConfig config;
    config.WmProfilePath = "/p/old.prx";
    ApplyCodecChoice(config, "(None)", false, profiles);
    EXPECT_EQ(config.CodecName, "(None)");
    EXPECT_EQ(config.UseWmProfile, 0);
    ApplyCodecChoice(config, "Typed by hand", true, profiles);
    EXPECT_EQ(config.UseWmProfile, 1);
    EXPECT_EQ(config.WmProfilePath, "/p/old.prx");
    EXPECT_EQ(config.CodecName, "(None)");
    ApplyCodecChoice(config, "Long", true, profiles);
    EXPECT_EQ(config.WmProfilePath, "/p/old.prx"); // never stored cut
    ApplyCodecChoice(config, "Day", true, profiles);
    EXPECT_EQ(config.WmProfilePath, "/p/day.prx");
}

TEST(CodecChoice, Wmv9ValuesOutOfRangeFallBackToTheirDefaults)
{
    DeviceConfig config;
    config.Wmv9Bitrate = 50000;
    EXPECT_EQ(Wm9ValuesFrom(config).cbrBitrate, 50);
    config.Wmv9Bitrate = -1999;
    EXPECT_EQ(Wm9ValuesFrom(config).cbrBitrate, -1);
    const Wm9Values d = Wm9Defaults();
    EXPECT_EQ(std::tie(d.frameRate, d.cbrBitrate, d.cbrQuality, d.vbrQuality, d.useVbr),
              std::make_tuple(24.0f, 700, 50, 50, 1));

    struct Case
    {
        Wm9Values in;
        float rate;
        int32_t bitrate, cbr, vbr;
        uint8_t useVbr;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        { { 12.0f, 50, 0, 3, 0 }, 12.0f, 700000, 0, 50, 0 },
        { { 9.9f, 100, 7, 4, 1 }, 24.0f, 100000, 7, 4, 1 },
        { { 30.5f, 2000, -5, 101, 2 }, 24.0f, 2000000, -5, 50, 1 },
        { { 10.0f, 2001, 100, 100, 0 }, 10.0f, 700000, 100, 100, 0 },
        { { nan, 99, 1, 1, 0 }, 24.0f, 700000, 1, 50, 0 },
        // 4294968 kBps wraps to 968000 bits/s in 32 bits, inside the range: it must not pass.
        { { 25.0f, 4294968, 50, 50, 1 }, 25.0f, 700000, 50, 50, 1 },
        { { 25.0f, INT32_MAX, 50, 50, 1 }, 25.0f, 700000, 50, 50, 1 },
        { { 25.0f, INT32_MIN, 50, 50, 1 }, 25.0f, 700000, 50, 50, 1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in.cbrBitrate);
        DeviceConfig out;
        ApplyWm9Values(c.in, out);
        EXPECT_EQ(out.Wmv9FrameRate, c.rate);
        EXPECT_EQ(out.Wmv9Bitrate, c.bitrate);
        EXPECT_EQ(out.Wmv9CbrQuality, c.cbr);
        EXPECT_EQ(out.Wmv9VbrQuality, c.vbr);
        EXPECT_EQ(out.Wmv9Vbr, c.useVbr);
    }
}

namespace {

struct Encoder
{
    Encoder() : element(gst_element_factory_make("avenc_msmpeg4v2", nullptr))
    {
        if (element)
            gst_object_ref_sink(element);
    }
    ~Encoder()
    {
        if (element)
            gst_object_unref(element);
    }
    GstElement *element;
};

const CodecProperty *Find(const std::vector<CodecProperty> &list, std::string_view name)
{
    for (const CodecProperty &p : list)
        if (p.name == name)
            return &p;
    return nullptr;
}

int IntProperty(GstElement *e, const char *name)
{
    int value = 0;
    g_object_get(e, name, &value, nullptr);
    return value;
}

} // namespace

TEST(CodecState, AnEncodersSettingsAreListedKeptAndAppliedOnlyToItsOwnCompressor)
{
    Encoder encoder;
    ASSERT_NE(encoder.element, nullptr);
    const std::vector<CodecProperty> listed = ListCodecProperties(encoder.element);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(Find(listed, "name"), nullptr);
    const CodecProperty *bitrate = Find(listed, "bitrate");
    ASSERT_NE(bitrate, nullptr);
    EXPECT_EQ(bitrate->kind, CodecProperty::Kind::Integer);
    EXPECT_EQ(bitrate->value, "200000");
    // Every value listed reads back as a value of its property.
    for (const CodecProperty &p : listed) {
        EXPECT_TRUE(AcceptsCodecValue(encoder.element, p.name, p.value))
            << p.name << "=" << p.value;
        EXPECT_EQ(p.kind == CodecProperty::Kind::Choice, !p.choices.empty()) << p.name;
    }

    struct Case
    {
        const char *name, *value;
        bool accepted;
    };
    const Case cases[] = {
        { "bitrate", "345000", true }, { "bitrate", "-5", false },
        { "bitrate", "abc", false },   { "bitrate", "", false },
        { "no-such", "1", false },     { "name", "other", false },
        { "gop-size", "25", true },    { "bitrate", "99999999999", false },
    };
    for (const Case &c : cases)
        EXPECT_EQ(AcceptsCodecValue(encoder.element, c.name, c.value), c.accepted)
            << c.name << "=" << c.value;

    CodecState state { "Microsoft MPEG-4 Video Codec V2",
                       { { "bitrate", "345000" }, { "gop-size", "abc" }, { "no-such", "1" } } };
    EXPECT_EQ(ApplyCodecState(encoder.element, state, "Microsoft MPEG-4 Video Codec V3"), 0);
    EXPECT_EQ(IntProperty(encoder.element, "bitrate"), 200000);
    EXPECT_EQ(ApplyCodecState(encoder.element, state, "Microsoft MPEG-4 Video Codec V2"), 1);
    EXPECT_EQ(IntProperty(encoder.element, "bitrate"), 345000);

    // The editor's changes join what was kept for the same compressor only.
    std::vector<CodecProperty> after = listed;
    for (CodecProperty &p : after)
        if (p.name == "gop-size")
            p.value = "30";
    const CodecState same = UpdateCodecState(state, state.CodecName, listed, after);
    EXPECT_EQ(same.Values.size(), 3u);
    EXPECT_EQ(same.Values.at("gop-size"), "30");
    EXPECT_EQ(same.Values.at("bitrate"), "345000");
    const CodecState other = UpdateCodecState(state, "DV Video Encoder", listed, after);
    EXPECT_EQ(other.CodecName, "DV Video Encoder");
    EXPECT_EQ(other.Values, (std::map<std::string, std::string> { { "gop-size", "30" } }));
}

// Command 155 without windows: the graph is down while the chooser is open and built again
// for what was stored; only OK stores, and the stored codec stays when OK comes unchanged.
TEST(CodecChooser, OkStoresCancelRestoresAndTheGraphIsBuiltForTheResult)
{
    struct Codecs : ICodecAccess
    {
        std::vector<std::string> ListVideoCompressors() override { return names; }
        bool HasVideoEncoder() const override { return false; }
        std::vector<CodecProperty> VideoCodecProperties() override { return {}; }
        bool AcceptsVideoCodecValue(const std::string &, const std::string &) override
        {
            return true;
        }
        void KeepVideoCodecChanges(const std::string &, const std::vector<CodecProperty> &,
                                   const std::vector<CodecProperty> &) override
        { }
        std::vector<std::string> names { "Microsoft MPEG-4 Video Codec V2",
                                         "Microsoft MPEG-4 Video Codec V3" };
    };
    // OK or Cancel after an optional change of the selection.
    struct Windows : ICodecChooserWindows
    {
        bool RunChooser(CodecChooserData &data, const Configure &) override
        {
            shown = data;
            wasBuilt = graph->IsBuilt();
            if (!pick.empty())
                data.selection = pick;
            return ok;
        }
        bool RunWm9(Wm9Values &) override { return false; }
        bool RunProperties(const std::string &, std::vector<CodecProperty> &,
                           const Accepts &) override
        {
            return false;
        }
        FakeTopics *graph = nullptr;
        std::string pick;
        bool ok = true;
        CodecChooserData shown;
        bool wasBuilt = true;
    };
    struct Case
    {
        const char *name;
        std::string pick;
        bool ok;
        std::string stored;
    };
    const Case cases[] = {
        { "OK unchanged", "", true, "Microsoft MPEG-4 Video Codec V3" },
        { "OK with V2", "Microsoft MPEG-4 Video Codec V2", true,
          "Microsoft MPEG-4 Video Codec V2" },
        { "Cancel with V2", "Microsoft MPEG-4 Video Codec V2", false,
          "Microsoft MPEG-4 Video Codec V3" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ServerFixture f;
        f.settings.Config.CodecName = "Microsoft MPEG-4 Video Codec V3";
        f.topics.built = true;
        Codecs codecs;
        Windows windows;
        windows.graph = &f.topics;
        windows.pick = c.pick;
        windows.ok = c.ok;
        EXPECT_EQ(ChooseVideoCodec(f.context, f.topics, &codecs, windows), c.ok);
        EXPECT_FALSE(windows.wasBuilt);
        EXPECT_EQ(windows.shown.selection, "Microsoft MPEG-4 Video Codec V3");
        EXPECT_EQ(windows.shown.compressorNames, codecs.names);
        EXPECT_EQ(f.settings.Config.CodecName, c.stored);
        EXPECT_TRUE(f.topics.IsBuilt());
        EXPECT_FALSE(f.view.CodecDialogOpen);
        EXPECT_EQ(f.engine.KeepDeviceFilter.load(), 0);
    }

    // Nothing to choose from: the error box, no codec, and the graph is built anyway.
    ServerFixture f;
    Windows windows;
    windows.graph = &f.topics;
    EXPECT_FALSE(ChooseVideoCodec(f.context, f.topics, nullptr, windows));
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].caption, kErrorBoxCaption);
    EXPECT_EQ(f.settings.Config.CodecName, "(None)");
    EXPECT_TRUE(f.topics.IsBuilt());
}

} // namespace vorlund::test

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
