#include "RemoteServing.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>

using namespace vorlund;

namespace {

struct Request
{
    int8_t code;
    uint8_t viewer;
    uint8_t argument;
};

struct Sent
{
    int camera = -1; // live frames; -1 for a stored picture
    std::string path;
    bool operator==(const Sent &) const = default;
};

// A link library with scripted requests; a held-back request comes again, as the relay does.
struct FakeLink : IRelayLink, IDirectLink
{
    int GotConnection() const override { return connected; }
    int8_t CheckRequestQueue(uint8_t *buffer, size_t) override
    {
        if (requests.empty())
            return 0;
        last = requests.front();
        requests.pop_front();
        buffer[0] = last.viewer;
        buffer[1] = last.argument;
        answered = false;
        return last.code;
    }
    bool SendImageOut(const uint8_t *, size_t, int camera) override
    {
        sent.push_back({ camera, {} });
        answered = true;
        return true;
    }
    // Keeps the encoding of each tagged frame, as the real links do.
    bool SendTaggedImageOut(const uint8_t *frame, size_t length, int camera,
                            const FrameTag &tag) override
    {
        tags.push_back(tag);
        firstBytes.push_back(frame && length ? frame[0] : -1);
        return SendImageOut(frame, length, camera);
    }
    bool ResendImageOut(const FrameTag &tag, int camera) override
    {
        for (const FrameTag &kept : tags)
            if (kept.source == tag.source && kept.serial == tag.serial) {
                sent.push_back({ camera, {} });
                ++resent;
                answered = true;
                return true;
            }
        return false;
    }
    bool SendStillOut(const std::string &path) override
    {
        sent.push_back({ -1, std::filesystem::path(path).filename().string() });
        answered = true;
        return true;
    }
    bool StartListening(const LinkStart &s) override
    {
        started.push_back(s);
        return true;
    }
    void StopListening() override { }
    void GetHTTPData() override { ++lookups; }
    bool AddressReady() const override { return addressReady; }
    std::string Address() const override { return "127.0.0.1"; }
    bool StartConnection(const LinkStart &s, const std::string &login, const std::string &,
                         const std::string &host) override
    {
        started.push_back(s);
        logins.push_back(login + "@" + host);
        return true;
    }
    void StopConnection() override { ++stops; }
    int GotDirector() const override { return director; }
    int GotPeer() const override { return 0; }
    void pingDirector() override { ++pings; }
    int CheckPTZQueue(int32_t &, int32_t &, int32_t &) override { return 0; }
    int LoginState() const override { return 0; }
    bool ErrorFlag() const override { return false; }
    void ClearErrorFlag() override { }
    std::string ErrorText() const override { return {}; }
    int32_t Status() const override { return 0; }

    // Requests held back are offered again.
    void Reoffer()
    {
        if (!answered && last.code != 0)
            requests.push_front(last);
        answered = true;
    }

    int connected = 1;
    std::vector<FrameTag> tags;
    std::vector<int> firstBytes; // of each frame sent with its tag; -1 = none
    int resent = 0;
    std::deque<Request> requests;
    Request last {};
    bool answered = true;
    std::vector<Sent> sent;
    std::vector<LinkStart> started;
    std::vector<std::string> logins;
    int lookups = 0, stops = 0, pings = 0, director = 1;
    bool addressReady = true;
};

struct Factory : ILinkFactory
{
    std::unique_ptr<IDirectLink> MakeDirect() override
    {
        auto link = std::make_unique<FakeLink>();
        direct = link.get();
        return link;
    }
    std::unique_ptr<IRelayLink> MakeRelay(IMessageSink &) override
    {
        auto link = std::make_unique<FakeLink>();
        relay = link.get();
        return link;
    }
    FakeLink *direct = nullptr;
    FakeLink *relay = nullptr;
};

struct ServingTest : ::testing::Test
{
    ServingTest()
    {
        f.engine.CameraCount = 4;
        f.engine.FrameLength = 64 * 48 * 3;
        f.settings.Config.Block.RemoteEnabled = 1;
        f.settings.Config.RemoteMode = 1;
        serving.ApplyRemoteMode();
    }
    void Snapshot(int camera, int number)
    {
        char name[16];
        std::snprintf(name, sizeof name, "p%03d.jpg", number);
        const auto folder = f.view.VideoFolder / ("cam" + std::to_string(camera));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / name) << "jpeg";
    }
    Sent Ask(FakeLink &link, Request r, int camera = 0)
    {
        link.requests.push_back(r);
        serving.ServeRemoteRequests(camera);
        return link.sent.empty() ? Sent {} : link.sent.back();
    }
    test::ServerFixture f;
    Factory links;
    RemoteServing serving { f.context, f.topics, f.topics, links };
};

// A start that tells the viewers nothing new (a restart) leaves the listener and its viewers
// alone; a new picture size or password, or a stop in between, starts it afresh.
TEST_F(ServingTest, ListenerRestartsOnlyWhenWhatViewersWereToldChanges)
{
    serving.StartListening({ 64, 48, 4 });
    serving.StartListening({ 64, 48, 4 });
    EXPECT_EQ(links.direct->started.size(), 1u);
    serving.StartListening({ 32, 24, 4 });
    EXPECT_EQ(links.direct->started.size(), 2u);
    f.settings.Config.RemotePassword = "new";
    serving.StartListening({ 32, 24, 4 });
    EXPECT_EQ(links.direct->started.size(), 3u);
    serving.StopListening();
    serving.StartListening({ 32, 24, 4 });
    EXPECT_EQ(links.direct->started.size(), 4u);
}

TEST_F(ServingTest, LiveFramesGoOutWithTheRecordingCamera)
{
    FakeLink &link = *links.direct;
    EXPECT_EQ(Ask(link, { 2, 0, 0 }), (Sent { 2, {} }));
    EXPECT_EQ(Ask(link, { 1, 0, 0 }, 3), (Sent { 3, {} })) << "recording camera 3 is sent";
    EXPECT_EQ(serving.ViewerRecord(0).state, 1);
    EXPECT_FALSE(f.engine.LiveFramePending.IsPending());

    // A bad camera is answered (with the no-picture frame), logged and shown once at a time.
    EXPECT_EQ(Ask(link, { 9, 0, 0 }), (Sent { 0, {} }));
    EXPECT_EQ(Ask(link, { 9, 0, 0 }), (Sent { 0, {} }));
    EXPECT_EQ(f.notifier.entries.at(0).text, "Invalid cam request. err1");
    // A viewer number that has no record, and a stored code above 36: the no-picture frame.
    EXPECT_EQ(Ask(link, { 1, 7, 0 }), (Sent { 0, {} }));
    EXPECT_EQ(Ask(link, { 40, 0, '=' }), (Sent { 0, {} }));
}

// Each live frame is named by its camera and the engine's count of that camera's frames: a
// request for a frame the link has encoded already is answered with that encoding.
TEST_F(ServingTest, LiveFrameAlreadyEncodedGoesAgain)
{
    FakeLink &link = *links.direct;
    const std::vector<uint8_t> picture(64 * 48 * 3, 7);
    f.engine.WriteLiveFrame(2, picture.data(), picture.size());
    EXPECT_EQ(Ask(link, { 2, 0, 0 }), (Sent { 2, {} }));
    EXPECT_EQ(Ask(link, { 2, 0, 0 }), (Sent { 2, {} }));
    EXPECT_EQ(Ask(link, { 1, 0, 0 }, 2), (Sent { 2, {} })) << "the recording camera's frame";
    EXPECT_EQ(link.tags.size(), 1u);
    EXPECT_EQ(link.resent, 2);
    f.engine.WriteLiveFrame(2, picture.data(), picture.size()); // the next frame
    EXPECT_EQ(Ask(link, { 2, 0, 0 }), (Sent { 2, {} }));
    ASSERT_EQ(link.tags.size(), 2u);
    EXPECT_EQ(link.firstBytes, (std::vector<int> { 7, 7 }));
    EXPECT_NE(f.engine.BorrowLiveFrame(2, 1).Data(), nullptr) << "the frame's slot was given back";
    EXPECT_EQ(link.tags[0].source, 2);
    EXPECT_NE(link.tags[1].serial, link.tags[0].serial);
    // The no-picture answer is camera 1's frame under its own name.
    EXPECT_EQ(Ask(link, { 34, 0, '=' }), (Sent { 0, {} }));
    EXPECT_EQ(link.tags.back().source, 1);
}

TEST_F(ServingTest, StoredPictureStepping)
{
    FakeLink &link = *links.direct;
    f.settings.Config.Block.SnapshotLimit = 5;
    // Nothing taken yet: camera 1's live frame, labelled 0.
    EXPECT_EQ(Ask(link, { 34, 0, '=' }), (Sent { 0, {} }));

    for (int n : { 1, 2, 3, 5 })
        Snapshot(2, n);
    f.settings.Config.Block.SnapshotCount[2] = 3;
    serving.ServeRemoteRequests(0); // nothing queued: nothing happens
    Ask(link, { 2, 0, 0 }); // back to live
    struct Step
    {
        char step;
        std::string expected;
    };
    const Step steps[] = {
        { '-', "p002.jpg" }, // first "previous" after live: before the newest
        { '=', "p003.jpg" },
        { '+', "p001.jpg" }, // p004 missing and above the newest: on to p001
        { '(', "p001.jpg" }, // the direct link leaves ten-steps alone
    };
    for (const Step &s : steps)
        EXPECT_EQ(Ask(link, { 34, 0, uint8_t(s.step) }).path, s.expected) << s.step;

    // From the limit, "+" wraps to p001.
    f.settings.Config.Block.SnapshotCount[2] = 5;
    Ask(link, { 34, 1, '=' });
    EXPECT_EQ(Ask(link, { 34, 1, '+' }).path, "p001.jpg");
}

TEST_F(ServingTest, PictureFoundOnTheFifthProbeIsSent)
{
    FakeLink &link = *links.direct;
    f.settings.Config.Block.SnapshotLimit = 9;
    f.settings.Config.Block.SnapshotCount[1] = 9;
    Snapshot(1, 5);
    EXPECT_EQ(Ask(link, { 33, 0, '=' }).path, "p005.jpg");
}

TEST_F(ServingTest, RelayThrottleHoldsTheHundredAndFirstAndARecordingTickFreesIt)
{
    f.settings.Config.RemoteMode = 0;
    serving.ApplyRemoteMode();
    FakeLink &relay = *links.relay;
    f.engine.MotionEnabled[1] = 1;
    f.engine.RecordOnMotion[1] = 1;
    for (int i = 0; i < 100; ++i)
        Ask(relay, { 1, 0, 0 });
    EXPECT_EQ(relay.sent.size(), 100u);
    Ask(relay, { 1, 0, 0 });
    EXPECT_EQ(relay.sent.size(), 100u) << "the 101st is held back";
    EXPECT_EQ(serving.PendingMark(), 1);
    // A control request meanwhile is a control request, not a live one.
    relay.answered = true;
    Ask(relay, { -1, 0, uint8_t(-2) });
    EXPECT_EQ(f.engine.SelectedCamera, 2);
    EXPECT_EQ(relay.sent.size(), 100u);
    relay.last = { 1, 0, 0 };
    relay.answered = false;
    relay.Reoffer();
    // The next recording tick frees the link: the held request is answered.
    serving.ServeRemoteRequests(1);
    ASSERT_EQ(relay.sent.size(), 101u);
    EXPECT_EQ(relay.sent.back().camera, 1);
    EXPECT_EQ(serving.PendingMark(), 0);

    // Held again, then freed by WM_RELAY_RESUME.
    for (int i = 0; i < 101; ++i)
        Ask(relay, { 1, 0, 0 });
    relay.Reoffer();
    EXPECT_EQ(serving.PendingMark(), 1);
    serving.OnRelayResume();
    serving.ServeRemoteRequests(0);
    EXPECT_EQ(relay.sent.back().camera, 1);
    EXPECT_EQ(serving.PendingMark(), 0);
}

TEST_F(ServingTest, SelectCamera)
{
    f.engine.SettleTime = 200;
    serving.SelectCamera(3);
    EXPECT_EQ(f.engine.SelectedCamera, 3);
    EXPECT_EQ(f.engine.CycleCount, 1);
    EXPECT_TRUE(f.engine.SwitchBusy) << "settled like any other switch";
    EXPECT_EQ(f.topics.switches, std::vector<int> { 3 });
    EXPECT_EQ(f.engine.SettleTime, 90u);
    serving.SelectCamera(3);
    EXPECT_EQ(f.engine.SelectedCamera, 0);
    EXPECT_EQ(f.engine.SettleTime, 200u);
    EXPECT_EQ(f.sound.played, (std::vector<std::string> { "clickerx.wav", "clickerx.wav" }));

    // Deselecting when nothing was saved leaves the settle time alone.
    f.engine.SettleTime = 60;
    serving.SelectCamera(2);
    serving.SelectCamera(2);
    EXPECT_EQ(f.engine.SettleTime, 60u);

    // One camera and no PTZ camera: ignored.
    f.engine.CameraCount = 1;
    serving.SelectCamera(1);
    EXPECT_EQ(f.engine.SelectedCamera, 0);
    EXPECT_EQ(f.sound.played.size(), 4u);
}

TEST_F(ServingTest, RemotePtzCommandsSuspendDetection)
{
    FakeLink &link = *links.direct;
    f.settings.Config.PtzCamera[2] = 1;
    f.engine.MotionEnabled[2] = 1;
    // No camera selected: the command is skipped.
    Ask(link, { -1, 0, 8 });
    f.engine.SelectedCamera = 2;
    Ask(link, { -1, 0, 8 });
    EXPECT_EQ(f.engine.MotionEnabled[2], 0);
    Ask(link, { -1, 0, 0 });
    EXPECT_EQ(f.engine.MotionEnabled[2], 1);
    EXPECT_EQ(f.engine.SuppressCount, 15);
}

TEST_F(ServingTest, RelayConnectsAfterCredentialsWithoutBlocking)
{
    f.settings.Config.RemoteMode = 0;
    serving.ApplyRemoteMode();
    int asked = 0;
    RemoteServing::CredentialsDone answer;
    serving.AskCredentials
        = [&](const std::string &, const std::string &, RemoteServing::CredentialsDone done) {
              ++asked;
              answer = std::move(done);
          };
    serving.ConnectRelay();
    serving.ConnectRelay();
    EXPECT_EQ(asked, 1) << "never twice at once";
    answer(true, "me@example.org", "secret");
    EXPECT_EQ(links.relay->logins, std::vector<std::string> { "me@example.org@127.0.0.1" });

    // Cancelled: the relay stays off until the settings are applied again.
    f.settings.Config.RelayLogin.clear();
    serving.ConnectRelay();
    answer(false, "", "");
    serving.ConnectRelay();
    EXPECT_EQ(asked, 2);
    serving.KeepRelayAlive();
    EXPECT_EQ(links.relay->pings, 1);
}

} // namespace
