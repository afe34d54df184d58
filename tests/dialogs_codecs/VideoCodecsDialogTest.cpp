// The codec chooser and the WMV9 dialog offscreen, and command 155 over the real capture graph:
// a codec chosen and configured is the one that records.
#include "VideoCodecsDialog.h"
#include "CaptureGraphSupport.h"
#include "DialogsTestSupport.h"
#include "HelpBalloon.h"
#include "RunVideoCodecs.h"

#include <QListWidget>
#include <QTest>

#include <fstream>
#include <iterator>

namespace vorlund::test {

namespace {

constexpr const char *kV2 = "Microsoft MPEG-4 Video Codec V2";
constexpr const char *kV3 = "Microsoft MPEG-4 Video Codec V3";

void WriteProfile(const std::filesystem::path &file, const std::string &name)
{
    std::string text = "<profile version=\"589824\"";
    text += std::string(88 - text.size() - 7, ' ') + " name=\"" + name + "\"></profile>";
    std::ofstream out(file, std::ios::binary);
    out.write("\xFF\xFE", 2);
    for (char c : text)
        out.put(c).put('\0');
}

// The user's click on an entry (the dialog is shown).
void Pick(QWidget &dialog, int list, const QString &text)
{
    auto *widget = Find<QListWidget>(dialog, list);
    const QList<QListWidgetItem *> items = widget->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << text.toStdString();
    widget->scrollToItem(items[0]);
    QTest::mouseClick(widget->viewport(), Qt::LeftButton, {},
                      widget->visualItemRect(items[0]).center());
}

std::string FactoryOf(GstElement *element)
{
    GstElementFactory *factory = element ? gst_element_get_factory(element) : nullptr;
    return factory ? GST_OBJECT_NAME(factory) : "";
}

int Bitrate(const CaptureGraph &graph)
{
    int value = 0;
    if (GstElement *codec = graph.Parts().m_pVideoCodec.get())
        g_object_get(codec, "bitrate", &value, nullptr);
    return value;
}

std::string Head(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(size_t(in.gcount()));
    return head;
}

// The compressor code of a recording's video stream, from its stream header ("strh" "vids"
// and then the handler).
std::string VideoFourcc(const std::filesystem::path &file)
{
    const std::string head = Head(file);
    const size_t at = head.find("vids");
    return at == std::string::npos || at + 8 > head.size() ? "" : head.substr(at + 4, 4);
}

// Records at least `frames` encoded frames through the gate and reads the file back: a whole
// recording, and the code of its compressor.
std::string RecordAndReadFourcc(GraphFixture &f, int frames)
{
    const std::filesystem::path file = f.graph.RecordFile();
    BufferCounter encoded(f.graph.Parts().m_pVideoCodec.get(), "src");
    EXPECT_TRUE(f.graph.RunGraph());
    EXPECT_TRUE(WaitFor([&] { return f.graph.Grabber().FramesDelivered() > 3; }));
    f.graph.SetGateOpen(true);
    EXPECT_TRUE(WaitFor([&] { return encoded.Count() >= frames; }));
    f.graph.SetGateOpen(false);
    f.graph.TearDownGraph();
    const ReadBack back = ReadRecording(file);
    EXPECT_TRUE(back.ok);
    EXPECT_GE(back.frames, frames);
    return VideoFourcc(file);
}

class CodecsDialogTest : public DialogTest
{
protected:
    RecordingNotifier notifier;
    TempFolder root;
};

} // namespace

TEST_F(CodecsDialogTest, OkWaitsForAChoiceAnEmptyChoiceStaysAndCancelAlwaysCloses)
{
    CVideoCodecs d(notifier);
    d.CompressorNames = { kV3, kV2 };
    d.Selection = d.CurrentCompressor = kV3;
    d.WorkingFolder = root.path; // no profile folder
    d.show();
    EXPECT_FALSE(Enabled(d, 1));
    EXPECT_TRUE(Enabled(d, 1028));
    EXPECT_TRUE(Enabled(d, 1031));
    EXPECT_FALSE(Enabled(d, 1065));
    EXPECT_FALSE(Enabled(d, 1046));
    auto *list = Find<QListWidget>(d, 1028);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "(None)");
    EXPECT_EQ(Edit(d, 1029)->text(), kV3);
    EXPECT_EQ(list->currentItem()->text(), kV3);

    // What the list does by itself (taking the focus, a current row set without the user)
    // chooses nothing.
    list->setCurrentRow(-1);
    list->setFocus();
    QCoreApplication::processEvents();
    list->setCurrentRow(0);
    list->setCurrentRow(2);
    EXPECT_FALSE(Enabled(d, 1));
    EXPECT_EQ(Edit(d, 1029)->text(), kV3);
    EXPECT_EQ(d.Selection, kV3);

    Pick(d, 1028, "(None)");
    EXPECT_TRUE(Enabled(d, 1));
    EXPECT_EQ(Edit(d, 1029)->text(), "(None)");
    Edit(d, 1029)->clear();
    Button(d, 1)->click();
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, kEmptyChoiceText);

    // No profile folder: the box is cleared again and says why.
    Button(d, 1052)->click();
    EXPECT_FALSE(Button(d, 1052)->isChecked());
    EXPECT_EQ(d.UseProfiles, 0);
    EXPECT_EQ(notifier.entries.back().text, kNoProfileEditorText);

    Button(d, 2)->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST_F(CodecsDialogTest, ProfilesAreChosenByNameAndAPathTooLongIsRefused)
{
    const std::filesystem::path folder = root.path / "profiles";
    std::filesystem::create_directory(folder);
    WriteProfile(folder / "day.prx", "Day");
    WriteProfile(folder / (std::string(120, 'l') + ".prx"), "Long");
    CVideoCodecs d(notifier);
    d.CompressorNames = { kV3 };
    d.CurrentCompressor = kV3;
    d.CurrentProfile = (folder / "day.prx").string();
    d.UseProfiles = 1;
    d.WorkingFolder = root.path;
    d.show();
    EXPECT_EQ(Edit(d, 1029)->text(), "Day");
    EXPECT_TRUE(Enabled(d, 1065));
    EXPECT_FALSE(Enabled(d, 1028));
    EXPECT_EQ(Find<QListWidget>(d, 1065)->count(), 2);

    Pick(d, 1065, "Long");
    Button(d, 1)->click();
    EXPECT_TRUE(d.isVisible());
    ASSERT_FALSE(notifier.entries.empty());
    EXPECT_EQ(notifier.entries.back().text, kProfilePathTooLongText);

    // Cancel closes with profiles on and nothing chosen.
    Edit(d, 1029)->clear();
    Button(d, 2)->click();
    EXPECT_FALSE(d.isVisible());

    d.show();
    Pick(d, 1065, "Day");
    Button(d, 1)->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.Selection, "Day");
    EXPECT_EQ(d.Profiles.at("Day"), folder / "day.prx");
}

TEST_F(CodecsDialogTest, HelpNamesEachControlOfTheChooser)
{
    CVideoCodecs d(notifier);
    d.WorkingFolder = root.path;
    d.show();
    const std::pair<int, const char *> titles[] = {
        { 1, "Save Changes" },
        { 1028, "Video Compression Selection" },
        { 1029, "Selection" },
        { 1031, "Configure" },
        { 1046, "Create/Edit" },
        { 1052, "Advanced Feature" },
        { 1065, "Windows Media Profiles" },
    };
    for (const auto &[id, title] : titles) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(d.OnHelpInfo(d.Control(id)));
        std::vector<CHelpBalloon *> shown;
        for (QWidget *w : QApplication::allWidgets())
            if (auto *b = qobject_cast<CHelpBalloon *>(w); b && b->isVisible())
                shown.push_back(b);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0]->windowTitle(), title);
        if (id == 1029) {
            EXPECT_EQ(shown[0]->Content(),
                      "This box will show you which video compressor or "
                      "profile you\nhave chosen. This field must not be "
                      "empty.\n");
        }
        shown[0]->close();
        delete shown[0];
    }
    EXPECT_FALSE(d.OnHelpInfo(d.Control(1066)));
    d.close();
}

TEST_F(CodecsDialogTest, Wmv9DialogRefusesTwelveFramesAndDefaultRestoresItsValues)
{
    CConfigWM9 d(notifier);
    d.Values = { 20.0f, 500, 40, 60, 0 };
    d.show();
    EXPECT_EQ(Edit(d, 1029)->text(), "20");
    EXPECT_EQ(Edit(d, 1062)->text(), "500");
    EXPECT_EQ(Combo(d, 1030)->currentText(), "No");
    Edit(d, 1029)->setText("12");
    Button(d, 1)->click();
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, "Please enter a number between 15 and 30.");

    Button(d, 1031)->click();
    EXPECT_EQ(Edit(d, 1029)->text(), "24");
    EXPECT_EQ(Edit(d, 1062)->text(), "700");
    EXPECT_EQ(Edit(d, 1086)->text(), "50");
    EXPECT_EQ(Edit(d, 1087)->text(), "50");
    EXPECT_EQ(Combo(d, 1030)->currentText(), "Yes");
    Button(d, 1)->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    const Wm9Values v = d.Values;
    EXPECT_EQ(std::tie(v.frameRate, v.cbrBitrate, v.cbrQuality, v.vbrQuality, v.useVbr),
              std::make_tuple(24.0f, 700, 50, 50, 1));
}

namespace {

class ChooserGraphTest : public DialogTest
{
protected:
    void SetUp() override
    {
        f.Configure(kTestCameraName, kSubtypeRgb24, 320, 240, kV3);
        ASSERT_EQ(f.graph.Build(), kGraphOk);
        f.view.DeviceReady = true;
    }
    GraphFixture f { "/nonexistent.dv" };
    CodecDialogRuns runs;
};

} // namespace

TEST_F(ChooserGraphTest, AConfiguredCodecChangeRecordsWithTheNewEncoderAndItsSettings)
{
    runs.properties = [](CCodecProperties &e) {
        e.show();
        auto *bitrate = e.findChild<QLineEdit *>("bitrate");
        EXPECT_NE(bitrate, nullptr);
        if (bitrate)
            bitrate->setText("345000");
        Button(e, 1)->click();
        return e.result();
    };
    runs.chooser = [this](CVideoCodecs &d) {
        d.show();
        EXPECT_FALSE(f.graph.IsBuilt()); // down while the chooser is open
        EXPECT_TRUE(f.view.CodecDialogOpen);
        Pick(d, 1028, kV2);
        Button(d, 1031)->click();
        EXPECT_EQ(FactoryOf(f.graph.Parts().m_pVideoCodec.get()), "avenc_msmpeg4v2");
        Button(d, 1)->click();
        return d.result();
    };
    ASSERT_TRUE(ChooseVideoCodec(nullptr, f.context, f.graph, &f.graph, runs));
    EXPECT_EQ(f.settings.Config.CodecName, kV2);
    EXPECT_FALSE(f.view.CodecDialogOpen);
    EXPECT_EQ(f.engine.KeepDeviceFilter.load(), 0);
    ASSERT_TRUE(f.graph.IsBuilt());
    EXPECT_EQ(FactoryOf(f.graph.Parts().m_pVideoCodec.get()), "avenc_msmpeg4v2");
    EXPECT_EQ(Bitrate(f.graph), 345000);

    EXPECT_EQ(RecordAndReadFourcc(f, 20), "MP42");

    // Every later build gives the same encoder the kept settings again.
    ASSERT_EQ(f.graph.Build(), kGraphOk);
    EXPECT_EQ(Bitrate(f.graph), 345000);
}

// Opened and taken as it stands (the list took the focus, OK by the keyboard's default
// action), the chooser keeps the stored codec and the next recording is compressed with it.
TEST_F(ChooserGraphTest, OkWithoutAChangeKeepsTheStoredCodecAndRecordsWithIt)
{
    runs.chooser = [](CVideoCodecs &d) {
        d.show();
        auto *list = Find<QListWidget>(d, 1028);
        list->setFocus();
        list->setCurrentRow(0);
        QCoreApplication::processEvents();
        EXPECT_EQ(Edit(d, 1029)->text(), kV3);
        EXPECT_FALSE(Enabled(d, 1));
        d.accept();
        return d.result();
    };
    ASSERT_TRUE(ChooseVideoCodec(nullptr, f.context, f.graph, &f.graph, runs));
    EXPECT_EQ(f.settings.Config.CodecName, kV3);
    ASSERT_TRUE(f.graph.IsBuilt());
    EXPECT_EQ(FactoryOf(f.graph.Parts().m_pVideoCodec.get()), "avenc_msmpeg4");

    EXPECT_EQ(RecordAndReadFourcc(f, 10), "MP43");
}

TEST_F(ChooserGraphTest, CancelAfterConfigureRestoresTheCodecAndBuildsForIt)
{
    runs.properties = [](CCodecProperties &e) {
        e.show();
        Button(e, 2)->click();
        return e.result();
    };
    runs.chooser = [](CVideoCodecs &d) {
        d.show();
        Pick(d, 1028, kV2);
        Button(d, 1031)->click();
        Button(d, 2)->click();
        return d.result();
    };
    EXPECT_FALSE(ChooseVideoCodec(nullptr, f.context, f.graph, &f.graph, runs));
    EXPECT_EQ(f.settings.Config.CodecName, kV3);
    ASSERT_TRUE(f.graph.IsBuilt());
    EXPECT_EQ(FactoryOf(f.graph.Parts().m_pVideoCodec.get()), "avenc_msmpeg4");
    EXPECT_TRUE(f.graph.VideoCodecState.IsEmpty());
}

TEST_F(ChooserGraphTest, Wmv9SettingsReachTheEncoderThatRecordsInItsPlace)
{
    runs.wm9 = [](CConfigWM9 &d) {
        d.show();
        Edit(d, 1062)->setText("900");
        Combo(d, 1030)->setCurrentIndex(0);
        Button(d, 1)->click();
        return d.result();
    };
    runs.chooser = [](CVideoCodecs &d) {
        d.show();
        Edit(d, 1029)->setText("WMVideo9 Encoder DMO");
        Button(d, 1031)->click();
        Button(d, 1)->click();
        return d.result();
    };
    ASSERT_TRUE(ChooseVideoCodec(nullptr, f.context, f.graph, &f.graph, runs));
    EXPECT_EQ(f.settings.Config.Wmv9Bitrate, 900000);
    EXPECT_EQ(f.settings.Config.Wmv9Vbr, 0);
    EXPECT_EQ(f.settings.Config.CodecName, kV3); // the build fell back
    ASSERT_TRUE(f.graph.IsBuilt());
    EXPECT_EQ(FactoryOf(f.graph.Parts().m_pVideoCodec.get()), "avenc_msmpeg4");
    EXPECT_EQ(Bitrate(f.graph), 900000);
}

} // namespace vorlund::test
