#include "ViewerCore.h"
#include "ClickSound.h"
#include "LinkMessageEvent.h"
#include "PtzQueue.h"
#include "ViewCommands.h"
#include "ViewTestServer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace vorlund;
using namespace vorlund::viewer;
using namespace vorlund::viewer::test;

namespace {

ViewerSettings ManualSettings()
{
    ViewerSettings s;
    s.mode = 1;
    s.hosts[0] = QStringLiteral("127.0.0.1");
    return s;
}

// The view's window as the logic sees it, recording what it was told.
class Harness : public QObject, public IViewHost
{
public:
    explicit Harness(ViewerSettings settings = ManualSettings())
    {
        core = std::make_unique<ViewerCore>(*this, notifier, sink, clock, std::move(settings));
    }
    ~Harness() override { core.reset(); }

    // Connects to `server` and waits for the hello to be taken.
    bool Connect(ViewTestServer &server)
    {
        core->Settings().port = server.Port();
        core->OnHostConnect();
        return WaitUntil([&] { return core->RequestDue() && core->LinkUp(); });
    }
    // One live tick whose frame request is answered and taken.
    bool Step(ViewTestServer &server)
    {
        const size_t before = server.requests.size();
        const int framesBefore = frames;
        clock.Advance(50);
        core->OnViewTick();
        return server.WaitRequests(before + 1)
            && WaitUntil([&] { return frames > framesBefore && core->RequestDue(); });
    }
    // Nothing more is on its way: for checks that something was not sent.
    void Settle(ViewTestServer &server)
    {
        WaitUntil([&] {
            return core->Connection().PendingSendLength() == 0 && server.framesSent == frames;
        });
        for (;;) {
            const auto before = std::make_pair(server.requests.size(), frames);
            for (int i = 0; i < 10; ++i)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (before == std::make_pair(server.requests.size(), frames)
                && server.framesSent == frames)
                return;
        }
    }
    std::vector<std::string> RequestsFrom(const ViewTestServer &server, size_t first) const
    {
        return { server.requests.begin() + long(first), server.requests.end() };
    }

    // IViewHost
    void SetStatusText(const std::string &t) override { status = t; }
    void SetRateText(const std::string &t) override { rate = t; }
    void SetQualityText(const std::string &t) override
    {
        quality = t;
        ++qualityShown;
    }
    void SetModeText(const std::string &t) override { mode = t; }
    void SetSlideShowCommandText(const std::string &t) override { slideShowText = t; }
    void StartTick(int ms) override { tickMs = ms; }
    void StopTick() override { tickMs = 0; }
    bool IsMinimised() const override { return minimised; }
    void FitFrameToImages(int w, int h) override { extent = { w, h }; }
    void RepaintQuadrant(int camera) override { repainted.push_back(camera); }
    void RepaintAll() override { }
    std::optional<std::string> AskLoginId(const std::string &) override { return loginAnswer; }
    std::optional<std::string> AskPassword() override { return passwordAnswer; }
    void PostStartConnect() override
    {
        QMetaObject::invokeMethod(
            this, [this] { core->OnStartConnect(); }, Qt::QueuedConnection);
    }
    void Beep() override { ++beeps; }
    void PlayClick() override { ++clicks; }

    RecordingNotifier notifier;
    FakeClock clock;
    QueuedLinkSink sink { this };
    std::unique_ptr<ViewerCore> core;
    int frames = 0;

    std::string status, rate, quality, mode, slideShowText;
    int qualityShown = 0;
    int tickMs = 0;
    bool minimised = false;
    std::pair<int, int> extent {};
    std::vector<int> repainted;
    std::optional<std::string> loginAnswer;
    std::optional<std::string> passwordAnswer;
    int beeps = 0, clicks = 0;

protected:
    void customEvent(QEvent *e) override
    {
        if (e->type() != LinkMessageEvent::kType)
            return;
        const auto &m = static_cast<LinkMessageEvent *>(e)->message();
        frames += m.message == WM_FRAME_READY;
        core->OnLinkMessage(m);
    }
};

std::string Live(int camera, int value)
{
    return ">c" + Bytes({ camera, value }) + "\r\n";
}

std::string Stored(int camera, char step)
{
    return ">s" + Bytes({ camera }) + step + "\r\n";
}

std::string Ptz(int value)
{
    return ">k" + Bytes({ value }) + "\r\n";
}

TEST(ViewerCore, LoginThenOneLiveRequestPerReply)
{
    ViewTestServer server;
    Harness h;
    ASSERT_TRUE(h.Connect(server));
    EXPECT_EQ(h.mode, "Manual");
    EXPECT_EQ(h.tickMs, kLiveTickMs);
    EXPECT_EQ(h.status, "Live view");
    EXPECT_EQ(h.extent, (std::pair<int, int> { 640, 480 }));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(h.Step(server));
    // The size code rides on the first request; scheme B walks the cameras that are on.
    EXPECT_EQ(server.requests,
              (std::vector<std::string> { "586?" + Bytes({ 45, 32 }) + "\r\n", Live(2, 32),
                                          Live(3, 45), Live(4, 45), Live(1, 45) }));
    EXPECT_EQ(h.quality, "Q45");

    // Nothing is asked while the reply is outstanding, and a tick whose request would sit
    // behind an unsent one waits for the next tick: neither is lost.
    server.answerFrames = false;
    h.core->OnViewTick();
    ASSERT_TRUE(server.WaitRequests(6));
    h.core->OnViewTick();
    h.Settle(server);
    EXPECT_EQ(server.requests.size(), 6U);
    server.answerFrames = true;
    server.SendFrame(2, SolidJpeg(32, 24, 0, 0, 200));
    ASSERT_TRUE(WaitUntil([&] { return h.core->RequestDue(); }));
    h.core->OnLButtonDown(330, 10); // camera 2's quadrant: a PTZ click goes out now
    h.core->OnViewTick(); // the click is still unsent: no frame request this tick
    EXPECT_TRUE(h.core->RequestDue());
    ASSERT_TRUE(server.WaitRequests(7));
    ASSERT_TRUE(h.Step(server));
    EXPECT_EQ(h.RequestsFrom(server, 5),
              (std::vector<std::string> { Live(2, 45), Ptz(0xFE), Live(2, 45) }));
    EXPECT_EQ(h.status, "PTZ On");

    server.client->disconnectFromHost();
    ASSERT_TRUE(WaitUntil([&] { return !h.core->LinkUp(); }));
    EXPECT_EQ(h.status, "No Connection");
    EXPECT_EQ(h.rate, "-");
    EXPECT_EQ(h.tickMs, 0);
    EXPECT_TRUE(h.core->ReviewMode());
    EXPECT_EQ(h.core->PendingSizeCode(), 32);
    EXPECT_TRUE(h.notifier.entries.empty());
}

TEST(ViewerCore, RotationSchemesNeverLoopForever)
{
    const struct
    {
        const char *what;
        char scheme;
        int count;
        std::array<bool, 4> on;
        std::vector<int> cameras;
    } cases[] = {
        { "one camera: always 1", '1', 1, { false, true, true, true }, { 1, 1, 1 } },
        { "A with 1, 2, 4: 1 between each",
          '1',
          4,
          { true, true, false, true },
          { 4, 1, 2, 1, 4, 1, 2 } },
        { "A with only camera 1", '1', 4, { true, false, false, false }, { 1, 1, 1, 1 } },
        { "A with camera 1 off: lowest of the others",
          '1',
          4,
          { false, false, true, true },
          { 3, 3, 3 } },
        { "B with 2 and 3", '0', 4, { false, true, true, false }, { 2, 3, 2, 3, 2 } },
        { "B with only camera 1", '0', 4, { true, false, false, false }, { 1, 1, 1 } },
        { "B within a count of 2", '0', 2, { true, true, true, true }, { 2, 1, 2, 1 } },
        { "no camera on within the count: camera 1",
          '0',
          2,
          { false, false, true, true },
          { 1, 1 } },
    };
    for (const auto &c : cases) {
        ViewTestServer server;
        server.scheme = c.scheme;
        server.count = c.count;
        ViewerSettings settings = ManualSettings();
        settings.cameraOn = c.on;
        Harness h(settings);
        ASSERT_TRUE(h.Connect(server)) << c.what;
        std::vector<int> asked;
        for (size_t i = 0; i < c.cameras.size(); ++i) {
            ASSERT_TRUE(h.Step(server)) << c.what;
            asked.push_back(uint8_t(server.requests.back()[2]));
        }
        EXPECT_EQ(asked, c.cameras) << c.what;
    }
}

TEST(ViewerCore, PtzKeysGoThroughTheQueueAndRestoreTheQuality)
{
    ViewTestServer server;
    server.ptz = Bytes({ 1, 0, 0, 0 });
    Harness h;
    ASSERT_TRUE(h.Connect(server));
    ASSERT_TRUE(h.Step(server));
    const size_t first = server.requests.size();

    // One tick whose PTZ byte reaches the server (the frame request waits behind it).
    const auto tickTo = [&](size_t n) {
        h.core->OnViewTick();
        return server.WaitRequests(first + n);
    };
    h.core->OnLButtonDown(10, 10); // camera 1 takes PTZ
    h.core->OnLButtonUp();
    EXPECT_EQ(h.status, "PTZ On");
    EXPECT_EQ(h.clicks, 1);
    ASSERT_TRUE(server.WaitRequests(first + 1));
    h.core->OnKeyDown(ViewKey::Right);
    h.core->OnKeyDown(ViewKey::Left); // left or right already held: nothing
    EXPECT_EQ(h.core->PtzBits(), kPtzRight);
    EXPECT_EQ(h.core->CurrentQuality(), 5);
    ASSERT_TRUE(tickTo(2));
    ASSERT_TRUE(h.Step(server)); // the PTZ camera at quality 5
    h.core->OnKeyUp(ViewKey::Right, false);
    EXPECT_EQ(h.core->CurrentQuality(), 45);
    ASSERT_TRUE(tickTo(4)); // the stop from the queue
    ASSERT_TRUE(tickTo(5)); // and once more, as the queue is empty and nothing is held
    ASSERT_TRUE(h.Step(server));
    h.core->OnKeyDown(ViewKey::Insert);
    h.core->OnKeyUp(ViewKey::Insert, false); // zoom stops at once
    ASSERT_TRUE(server.WaitRequests(first + 7));
    ASSERT_TRUE(tickTo(8)); // the queued zoom press
    ASSERT_TRUE(tickTo(9)); // and the stop behind it
    EXPECT_EQ(h.RequestsFrom(server, first),
              (std::vector<std::string> { Ptz(0xFF), Ptz(kPtzRight), Live(1, 5), Ptz(0), Ptz(0),
                                          Live(1, 45), Ptz(0), Ptz(kPtzZoomIn), Ptz(0) }));

    // A camera without PTZ takes no keys.
    h.core->OnLButtonDown(330, 10);
    EXPECT_EQ(h.core->PtzCamera(), 2);
    h.core->OnKeyDown(ViewKey::Up);
    EXPECT_EQ(h.core->PtzBits(), 0);
    EXPECT_EQ(h.core->CurrentQuality(), 45);
}

TEST(ViewerCore, PtzQueueKeepsTheNewestStateWhenFull)
{
    PtzQueue q;
    for (int i = 1; i <= 12; ++i)
        q.Append(uint8_t(i));
    EXPECT_EQ(q.Count(), PtzQueue::kSize);
    std::vector<int> taken;
    while (auto v = q.Take())
        taken.push_back(*v);
    EXPECT_EQ(taken, (std::vector<int> { 1, 2, 3, 4, 5, 6, 7, 8, 9, 12 }));
    q.Append(7);
    EXPECT_EQ(q.Take(), 7);
}

TEST(ViewerCore, QualityAndSizeKeys)
{
    const struct
    {
        int mode;
        char standard;
        int from;
        char key;
        int quality;
        int width;
    } cases[] = {
        { 1, 'A', 45, 'a', 35, 320 }, { 1, 'A', 35, 'q', 45, 320 }, { 1, 'A', 90, 'Q', 90, 320 },
        { 1, 'A', 10, 'A', 5, 320 },  { 1, 'A', 5, 'a', 5, 320 },   { 0, 'A', 45, 'w', 45, 400 },
        { 1, 'N', 45, 'w', 45, 320 }, { 1, 'P', 45, 's', 45, 320 }, { 1, 'A', 45, 's', 45, 240 },
    };
    for (const auto &c : cases) {
        ViewerSettings settings = ManualSettings();
        settings.mode = c.mode;
        settings.quality = c.from;
        Harness h(settings);
        HostInfo info;
        info.width = 320;
        info.height = 240;
        info.cameraCount = 4;
        info.videoStandard = c.standard;
        h.core->OnHostReady(info, false);
        h.core->OnChar(c.key);
        EXPECT_EQ(h.core->CurrentQuality(), c.quality) << c.from << c.key;
        EXPECT_EQ(h.core->SavedQuality(), c.quality) << c.from << c.key;
        EXPECT_EQ(h.core->Settings().imageWidth, c.width) << c.standard << c.key;
    }

    // The widest sizes: 560 is the end in Automatic mode, 640 x 480 in Manual mode.
    for (int mode : { 0, 1 }) {
        ViewerSettings settings = ManualSettings();
        settings.mode = mode;
        Harness h(settings);
        HostInfo info;
        info.width = 560;
        info.height = 420;
        info.cameraCount = 1;
        h.core->OnHostReady(info, false);
        h.core->OnChar('w');
        EXPECT_EQ(h.core->Settings().imageWidth, mode == 0 ? 560 : 640);
        EXPECT_EQ(h.core->Settings().imageHeight, mode == 0 ? 420 : 480);
        EXPECT_EQ(h.extent,
                  (std::pair<int, int> { h.core->Settings().imageWidth,
                                         h.core->Settings().imageHeight }));
    }
}

TEST(ViewerCore, SizeKeyCodeGoesWithTheNextRequestAndFramesAreResampled)
{
    ViewTestServer server;
    server.count = 1;
    server.picture = [](int) { return SolidJpeg(320, 240, 0, 180, 0); };
    Harness h;
    ASSERT_TRUE(h.Connect(server));
    ASSERT_TRUE(h.Step(server));
    h.core->OnChar('w'); // 400 x 300
    ASSERT_TRUE(h.Step(server)); // the server still sends 320 x 240
    h.core->OnChar('a');
    ASSERT_TRUE(h.Step(server));
    EXPECT_EQ(h.RequestsFrom(server, 1),
              (std::vector<std::string> { Live(1, 32), Live(1, 40), Live(1, 35) }));
    const BitmapView b = h.core->CameraBitmap(1);
    ASSERT_EQ(b.width, 400);
    ASSERT_EQ(b.height, 300);
    for (auto [x, y] : { std::pair { 0, 0 }, { 399, 299 }, { 200, 150 } }) {
        const uint8_t *p = b.data + y * b.stride + x * 3;
        EXPECT_NEAR(p[0], 0, 6);
        EXPECT_NEAR(p[1], 180, 6);
        EXPECT_NEAR(p[2], 0, 6);
    }
}

// With camera 1 selected only camera 1 is asked for after a size key; the other quadrants keep
// their last picture, laid out for the new size, not sheared rows of the old one.
TEST(ViewerCore, SizeKeyRescalesTheCamerasNotAskedForAgain)
{
    const std::array<std::array<uint8_t, 3>, 4> colours {
        { { 250, 0, 0 }, { 0, 250, 0 }, { 0, 0, 250 }, { 250, 250, 0 } }
    };
    ViewTestServer server;
    server.picture = [&](int camera) {
        return SplitJpeg(320, 240, colours[size_t(camera - 1)], { 0, 0, 0 });
    };
    Harness h;
    ASSERT_TRUE(h.Connect(server));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(h.Step(server));
    const size_t clicked = server.requests.size() + 1;
    h.core->OnLButtonDown(10, 10); // camera 1 selected
    ASSERT_EQ(h.core->PtzCamera(), 1);
    ASSERT_TRUE(server.WaitRequests(clicked));
    h.Settle(server);
    for (const char key : { 'w', 'w', 's' }) { // 400, 480, then 400 wide
        SCOPED_TRACE(key);
        h.core->OnChar(key);
        ASSERT_TRUE(h.Step(server));
        ASSERT_EQ(server.requests.back()[2], 1) << "only camera 1 is asked for";
        for (int camera = 1; camera <= 4; ++camera) {
            const BitmapView b = h.core->CameraBitmap(camera);
            const auto &c = colours[size_t(camera - 1)];
            for (int y : { 2, b.height / 2, b.height - 3 }) {
                const uint8_t *left = b.data + y * b.stride + (b.width / 4) * 3;
                const uint8_t *right = b.data + y * b.stride + (b.width * 3 / 4) * 3;
                EXPECT_NEAR(left[0], c[2], 8) << camera << " row " << y;
                EXPECT_NEAR(left[1], c[1], 8) << camera << " row " << y;
                EXPECT_NEAR(left[2], c[0], 8) << camera << " row " << y;
                EXPECT_LT(right[0] + right[1] + right[2], 24) << camera << " row " << y;
            }
        }
    }
}

// A one-camera server turns camera 1 on and leaves the others' flags for the next server; the
// settings saved at exit keep them. Two cameras turn 3 and 4 off, three turn 4 off.
TEST(ViewerCore, HelloTurnsOffOnlyTheCamerasBeyondACountAboveOne)
{
    const struct
    {
        int count;
        char password;
        std::array<bool, 4> before, after;
    } cases[] = {
        { 1, '0', { true, true, true, true }, { true, true, true, true } },
        { 1, '2', { true, true, true, true }, { true, true, true, true } },
        { 1, '0', { false, true, false, true }, { true, true, false, true } },
        { 2, '2', { true, true, true, true }, { true, true, false, false } },
        { 3, '0', { true, true, true, true }, { true, true, true, false } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << c.password);
        ViewTestServer server;
        server.count = c.count;
        server.password = c.password;
        ViewerSettings settings = ManualSettings();
        settings.cameraOn = c.before;
        Harness h(settings);
        h.passwordAnswer = "pw";
        ASSERT_TRUE(h.Connect(server));
        EXPECT_EQ(h.core->CameraCount(), c.count);
        EXPECT_EQ(h.core->Settings().cameraOn, c.after);
        QTemporaryDir dir;
        QSettings store(dir.filePath("viewer.conf"), QSettings::IniFormat);
        SaveViewerSettings(store, h.core->Settings());
        store.sync();
        QSettings reread(dir.filePath("viewer.conf"), QSettings::IniFormat);
        for (int camera = 1; camera <= 4; ++camera)
            EXPECT_EQ(reread.value(QStringLiteral("Cam%1").arg(camera)).toInt(),
                      c.after[size_t(camera - 1)] ? 1 : 0)
                << camera;
    }
}

TEST(ViewerCore, FramesLandInTheirCamerasBitmap)
{
    ViewTestServer server;
    // Camera n's colour; the camera byte 9 names no camera and counts as 0.
    const std::array<std::array<uint8_t, 3>, 4> colours {
        { { 250, 0, 0 }, { 0, 250, 0 }, { 0, 0, 250 }, { 250, 250, 0 } }
    };
    server.picture = [&](int camera) {
        const auto &c = colours[size_t(camera - 1)];
        return SolidJpeg(320, 240, c[0], c[1], c[2]);
    };
    server.replyCamera = [](int camera) { return camera == 3 ? 9 : camera; };
    Harness h;
    ASSERT_TRUE(h.Connect(server));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(h.Step(server));
    for (int camera = 1; camera <= 4; ++camera) {
        const BitmapView b = h.core->CameraBitmap(camera);
        const auto &c = colours[size_t(camera - 1)];
        for (auto [x, y] : { std::pair { 0, 0 }, { 319, 239 } }) {
            const uint8_t *p = b.data + y * b.stride + x * 3; // blue, green, red
            EXPECT_NEAR(p[0], c[2], 6) << camera;
            EXPECT_NEAR(p[1], c[1], 6) << camera;
            EXPECT_NEAR(p[2], c[0], 6) << camera;
        }
    }
    EXPECT_EQ(h.repainted, (std::vector<int> { 2, 3, 4, 1 }));

    // A frame that is no JPEG still lets the next request go.
    server.picture = [](int) { return std::string("not a picture"); };
    ASSERT_TRUE(h.Step(server));
    EXPECT_EQ(h.repainted.size(), 4U);

    // Turning off the last camera that is on is refused.
    for (int camera : { 1, 2, 3 })
        h.core->ToggleCamera(camera);
    EXPECT_FALSE(h.core->IsCommandChecked(ID_CAM1 + 2));
    h.core->ToggleCamera(4);
    EXPECT_TRUE(h.core->IsCommandChecked(ID_CAM1 + 3));
    EXPECT_EQ(h.core->CameraBitmap(1).data[0], 0) << "a camera turned off is blanked";
}

TEST(ViewerCore, ReviewAndSlideShowStepping)
{
    ViewTestServer server;
    Harness h;
    ASSERT_TRUE(h.Connect(server));
    ASSERT_TRUE(h.Step(server)); // camera 2 live
    h.core->OnReview();
    h.core->OnViewTick(); // the switch
    EXPECT_TRUE(h.core->ReviewMode());
    EXPECT_EQ(h.tickMs, 0);
    EXPECT_EQ(h.status, "Reviewing");
    EXPECT_EQ(h.rate, "<");
    EXPECT_TRUE(h.core->IsCommandEnabled(ID_GO_LIVE));
    EXPECT_TRUE(h.core->IsCommandEnabled(ID_SLIDESHOW));
    EXPECT_FALSE(h.core->IsCommandEnabled(ID_REVIEW));

    const size_t first = server.requests.size();
    const auto answered = [&](size_t n) {
        return server.WaitRequests(first + n) && WaitUntil([&] { return h.core->RequestDue(); });
    };
    h.core->OnLButtonDown(10, 250); // camera 3's quadrant
    h.core->OnLButtonUp();
    EXPECT_EQ(h.core->ReviewCamera(), 3);
    ASSERT_TRUE(answered(2));
    h.core->OnKeyUp(ViewKey::Space, false);
    ASSERT_TRUE(answered(3));
    EXPECT_EQ(h.rate, ">");
    h.core->OnKeyUp(ViewKey::Backspace, true);
    ASSERT_TRUE(answered(4));
    EXPECT_EQ(h.rate, "<");
    h.core->OnKeyUp(ViewKey::Space, true);
    ASSERT_TRUE(answered(5));
    h.core->OnKeyUp(ViewKey::Home, false);
    ASSERT_TRUE(answered(6));
    h.core->OnKeyUp(ViewKey::Backspace, false);
    ASSERT_TRUE(answered(7));

    h.core->OnKeyUp(ViewKey::End, false); // the slide show
    EXPECT_EQ(h.tickMs, kSlideShowTickMs);
    EXPECT_EQ(h.status, "Slide Show");
    EXPECT_EQ(h.slideShowText, "Stop SlideShow");
    EXPECT_FALSE(h.core->IsCommandEnabled(ID_GO_LIVE));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(h.Step(server));
    h.core->OnChar('q'); // no keys during the slide show
    EXPECT_EQ(h.core->CurrentQuality(), 45);
    h.core->OnSlideShow(); // stop: the next tick returns to review
    h.core->OnViewTick();
    EXPECT_FALSE(h.core->SlideShow());
    EXPECT_EQ(h.status, "Reviewing");
    EXPECT_EQ(h.slideShowText, "&SlideShow");
    ASSERT_TRUE(server.WaitRequests(first + 12));

    EXPECT_EQ(h.RequestsFrom(server, first),
              (std::vector<std::string> { Ptz(0xFD), Stored(3, '='), Stored(3, '+'), Stored(3, '('),
                                          Stored(3, ')'), Stored(3, '='), Stored(3, '-'),
                                          Stored(4, '='), Stored(1, '='), Stored(2, '='),
                                          Stored(3, '='), Stored(4, '-') }));

    h.core->OnGoLive();
    EXPECT_EQ(h.tickMs, kLiveTickMs);
    EXPECT_FALSE(h.core->ReviewMode());
    EXPECT_EQ(h.status, "Live view");
}

TEST(ViewerCore, AutomaticModeLooksUpTheServerAndHandsOver)
{
    ViewTestServer relay;
    QTcpServer lookup;
    ASSERT_TRUE(lookup.listen(QHostAddress::LocalHost, 0));
    ViewerSettings settings;
    settings.mode = 0;
    settings.link.lookupHost = "127.0.0.1";
    settings.link.lookupPort = lookup.serverPort();
    settings.link.relayPort = relay.Port();
    Harness h(settings);

    h.loginAnswer.reset(); // Cancel
    h.core->OnHostConnect();
    EXPECT_EQ(h.status, "No Connection");
    EXPECT_EQ(h.mode, "Auto");

    for (int round = 0; round < 2; ++round) {
        h.loginAnswer = "me@example.org";
        h.core->OnHostConnect();
        EXPECT_TRUE(h.core->LookupInProgress());
        ASSERT_TRUE(WaitUntil([&] { return lookup.hasPendingConnections(); }));
        QTcpSocket *peer = lookup.nextPendingConnection();
        // Until its own lookup closes, no connection is made.
        for (int i = 0; i < 5; ++i) {
            h.core->OnViewTick();
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(relay.client, nullptr);
        peer->write("HTTP/1.1 200 OK\r\n\r\ntor:127.0.0.1:1\r\n");
        peer->disconnectFromHost();
        ASSERT_TRUE(WaitUntil([&] {
            h.core->OnViewTick();
            return relay.requests.size() == 1;
        }));
        EXPECT_EQ(relay.requests[0], "586?" + Bytes({ 45, 32 }) + "me@example.org\r\n");
        ASSERT_TRUE(WaitUntil([&] { return h.core->RequestDue(); }));
        h.core->OnHostDisconnect();
        relay.client = nullptr;
        relay.requests.clear();
    }
}

TEST(ViewerCore, PasswordAndHostErrors)
{
    ViewTestServer server;
    server.password = '2';
    server.count = 2;
    Harness h;
    h.passwordAnswer = "secret";
    ASSERT_TRUE(h.Connect(server));
    EXPECT_EQ(server.requests[1], ">p\x06secret\r\n");
    EXPECT_EQ(h.core->CameraCount(), 2);
    EXPECT_FALSE(h.core->IsCommandChecked(ID_CAM1 + 2));

    const struct
    {
        int code;
        const char *start;
    } errors[] = { { 1, "Invalid logon credentials or host not logged on.\n\nMake sure" },
                   { 2, "Connection in use.\nPlease try again later." },
                   { 7, "Unknown error." } };
    for (const auto &e : errors) {
        ViewTestServer refusing;
        refusing.answerLogin = false;
        Harness r;
        r.core->Settings().port = refusing.Port();
        r.core->OnHostConnect();
        ASSERT_TRUE(WaitUntil([&] { return refusing.client != nullptr; }));
        refusing.Send(">ERR" + Bytes({ 0, 0, 0, e.code }));
        ASSERT_TRUE(WaitUntil([&] { return !r.notifier.entries.empty(); }));
        EXPECT_EQ(r.notifier.entries[0].text.rfind(e.start, 0), 0U) << e.code;
    }

    // Cancel on the password dialog disconnects.
    ViewTestServer again;
    again.password = '2';
    Harness c;
    c.core->Settings().port = again.Port();
    c.core->OnHostConnect();
    ASSERT_TRUE(WaitUntil([&] { return c.status == "No Connection"; }));
    EXPECT_FALSE(c.core->Connection().HasSocket());
}

TEST(ViewerCore, TickThrottlesWhileMinimisedAndKeepsTheLinkAlive)
{
    ViewTestServer server;
    server.answerFrames = false;
    Harness h;
    ASSERT_TRUE(h.Connect(server));
    h.minimised = true;
    for (int i = 0; i < 401; ++i)
        h.core->OnViewTick();
    EXPECT_EQ(h.qualityShown, 0);
    h.core->OnViewTick();
    EXPECT_EQ(h.qualityShown, 1);
    h.minimised = false;

    // The frame request went on that tick; no reply: the keep-alive on the 352nd tick after.
    for (int i = 0; i < 351; ++i)
        h.core->OnViewTick();
    h.Settle(server);
    EXPECT_EQ(server.requests,
              (std::vector<std::string> { "586?" + Bytes({ 45, 32 }) + "\r\n", Live(2, 32) }));
    EXPECT_EQ(h.status, "Motion Det");
    h.core->OnViewTick();
    ASSERT_TRUE(server.WaitRequests(3));
    EXPECT_EQ(server.requests.back(), ">PN\r\n");

    // The reply ends the motion hint, with a beep.
    server.SendFrame(2, SolidJpeg(32, 24, 1, 2, 3));
    ASSERT_TRUE(WaitUntil([&] { return h.core->RequestDue(); }));
    h.core->OnViewTick();
    EXPECT_EQ(h.status, "Live view");
    EXPECT_EQ(h.beeps, 1);
}

TEST(ViewerCore, DecoderResamplesAndNeverWritesPastTheBitmap)
{
    FrameDecoder decoder;
    const struct
    {
        int fromW, fromH, toW, toH;
    } sizes[]
        = { { 640, 480, 160, 120 }, { 100, 50, 250, 190 }, { 1, 1, 3, 2 }, { 320, 240, 320, 240 } };
    for (const auto &s : sizes) {
        const std::string jpeg = SolidJpeg(s.fromW, s.fromH, 10, 120, 240);
        const int stride = BitmapStride(s.toW);
        std::vector<uint8_t> bitmap(size_t(stride) * size_t(s.toH) + 16, 0xAB);
        ASSERT_TRUE(decoder.Decode({ reinterpret_cast<const uint8_t *>(jpeg.data()), jpeg.size() },
                                   { bitmap.data(), s.toW, s.toH, stride }));
        const uint8_t *last = bitmap.data() + size_t(stride) * size_t(s.toH - 1) + (s.toW - 1) * 3;
        EXPECT_NEAR(last[0], 240, 6);
        EXPECT_NEAR(last[2], 10, 6);
        for (size_t i = size_t(stride) * size_t(s.toH); i < bitmap.size(); ++i)
            ASSERT_EQ(bitmap[i], 0xAB) << s.fromW << " to " << s.toW;
    }
    const uint8_t junk[] = { 0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3 };
    std::vector<uint8_t> out(BitmapStride(16) * 12, 7);
    EXPECT_FALSE(decoder.Decode(junk, { out.data(), 16, 12, BitmapStride(16) }));
    EXPECT_EQ(out[0], 7);
}

TEST(ViewerCore, ClickSoundFileIsFoundWhateverItsCase)
{
    QTemporaryDir dir;
    EXPECT_FALSE(FindFileNoCase(dir.path(), "CLICKERX.wav"));
    ClickSound sound;
    EXPECT_FALSE(sound.Play(dir.path(), "CLICKERX.wav")) << "silent when missing";
    QFile file(dir.filePath("clickerx.WAV"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(FindFileNoCase(dir.path(), "CLICKERX.wav"), dir.filePath("clickerx.WAV"));
}

} // namespace
