#include "Ptz.h"
#include "MainTick.h"
#include "PtyPeer.h"
#include "SerialLine.h"
#include "ServerFixture.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <functional>
#include <thread>

using namespace vorlund;
using Bytes = std::vector<uint8_t>;

namespace {

// The real serial line, held open until the far end has read what was written, so the peer
// sees the line settings of every frame. Counts the opens and closes.
class WaitingLine : public ISerialLine
{
public:
    WaitingLine(ISerialLine &real, const test::PtyPeer &peer) : m_real(real), m_peer(peer) { }
    bool Open(std::string_view name, std::string &error) override
    {
        ++opens;
        return m_real.Open(name, error);
    }
    bool SetLine(int baud) override { return m_real.SetLine(baud); }
    void Purge() override { m_real.Purge(); }
    bool WriteBytes(const uint8_t *bytes, size_t count) override
    {
        const size_t before = m_peer.Received().size();
        const bool ok = m_real.WriteBytes(bytes, count);
        for (int i = 0; ok && i < 5000 && m_peer.Received().size() < before + count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ok;
    }
    int ReadSerialBytes(uint8_t *buffer, int count) override
    {
        return m_real.ReadSerialBytes(buffer, count);
    }
    void Close() override
    {
        ++closes;
        m_real.Close();
    }
    int opens = 0, closes = 0;

private:
    ISerialLine &m_real;
    const test::PtyPeer &m_peer;
};

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Frames to address 1 at the starting speeds (0x32), checksums worked out by hand.
const Bytes kRight { 0xFF, 0x01, 0x00, 0x02, 0x32, 0x32, 0x67 };
const Bytes kStop { 0xFF, 0x01, 0x00, 0x00, 0x32, 0x32, 0x65 };
const Bytes kFocusNear { 0xFF, 0x01, 0x01, 0x00, 0x32, 0x32, 0x66 };
const Bytes kFocusFar { 0xFF, 0x01, 0x00, 0x80, 0x32, 0x32, 0xE5 };
const Bytes kSetPreset { 0xFF, 0x01, 0x00, 0x03, 0x00, 0x01, 0x05 };
const Bytes kGoPreset { 0xFF, 0x01, 0x00, 0x07, 0x00, 0x01, 0x09 };
const Bytes kStartPattern { 0xFF, 0x01, 0x00, 0x1F, 0x00, 0x01, 0x21 };
const Bytes kStopPattern { 0xFF, 0x01, 0x00, 0x21, 0x00, 0x00, 0x22 };
const Bytes kRunPattern { 0xFF, 0x01, 0x00, 0x23, 0x00, 0x01, 0x25 };

struct PtzTest : ::testing::Test
{
    PtzTest()
    {
        f.profile.SetProfileString("Serial", "Com3", peer.SlavePath());
        f.settings.Config.PtzComPort = 3;
        f.settings.Ptz.AnyCamera = true;
        f.settings.Ptz.CameraFlags[1] = 1;
        f.settings.Ptz.CurrentAddress = 1;
        f.engine.SelectedCamera = 1;
        for (int c = 1; c <= kMaxCameras; ++c)
            f.engine.MotionEnabled[c] = f.engine.SavedMotionEnabled[c] = 1;
        f.view.Idle = false;
        f.view.Grid = ComputeZoneGrid(320, 240);
    }
    // What the camera received since the last look.
    Bytes Sent()
    {
        const Bytes all = peer.Received();
        Bytes fresh(all.begin() + long(seen), all.end());
        seen = all.size();
        return fresh;
    }
    int LogEntries(const std::string &text) const
    {
        std::ifstream in(f.log.Path());
        const std::string log((std::istreambuf_iterator<char>(in)), {});
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }
    void Key(int key, bool ctrl = false)
    {
        ptz.OnKeyDown(key, ctrl);
        ptz.OnKeyUp(key);
    }

    test::ServerFixture f;
    test::FakeTopics t;
    test::PtyPeer peer { [](Bytes &pending) {
        pending.clear();
        return Bytes {};
    } };
    SerialLine real { f.profile };
    WaitingLine line { real, peer };
    Ptz ptz { f.context, line, t, t };
    size_t seen = 0;
};

TEST_F(PtzTest, FramesByteForByte)
{
    ASSERT_FALSE(peer.SlavePath().empty());
    struct Case
    {
        const char *name;
        std::function<void(Ptz &, test::ServerFixture &)> act;
        Bytes frames;
        std::string box;
    };
    const Case cases[] = {
        { "right held", [](Ptz &p, auto &) { p.OnKeyDown(PtzKey::Right, false); }, kRight, "" },
        { "right released",
          [](Ptz &p, auto &) { p.OnKeyDown(PtzKey::Right, false), p.OnKeyUp(PtzKey::Right); },
          Cat({ kRight, kStop }), "" },
        { "focus near", [](Ptz &p, auto &) { p.OnKeyDown('9', false); }, kFocusNear, "" },
        { "focus far", [](Ptz &p, auto &) { p.OnKeyDown(PtzKey::Select, false); }, kFocusFar, "" },
        { "store preset", [](Ptz &p, auto &) { p.OnKeyDown('1', true); }, kSetPreset,
          " Position 1 Set " },
        { "go to preset", [](Ptz &p, auto &) { p.OnKeyDown(PtzKey::PageUp, false); }, kGoPreset,
          "" },
        { "start pattern", [](Ptz &p, auto &) { p.OnKeyDown('5', true); }, kStartPattern,
          " Start Pattern 1\nThen CTRL-6 to Stop " },
        { "stop pattern", [](Ptz &p, auto &) { p.OnKeyDown('6', true); }, kStopPattern,
          " Stopped Pattern 1\nNow CTRL-7 to Run " },
        { "run pattern, then home is the pattern",
          [](Ptz &p, auto &) { p.OnKeyDown('7', true), p.SendHomeCommand(); },
          Cat({ kRunPattern, kRunPattern }), "" },
        { "home is preset 1 by default", [](Ptz &p, auto &) { p.SendHomeCommand(); }, kGoPreset,
          "" },
        { "speeds are 40 after a special frame",
          [](Ptz &p, auto &) { p.OnKeyDown('1', false), p.OnKeyDown(PtzKey::Right, false); },
          Cat({ kGoPreset, { 0xFF, 0x01, 0x00, 0x02, 0x28, 0x28, 0x53 } }), "" },
        { "address of the selected camera",
          [](Ptz &p, auto &g) {
              g.settings.Ptz.CurrentAddress = 5;
              p.SendPtzCommand(kPtzRight);
          },
          { 0xFF, 0x05, 0x00, 0x02, 0x32, 0x32, 0x6B },
          "" },
        { "pattern keys need Ctrl",
          [](Ptz &p, auto &) { p.OnKeyDown('5', false), p.OnKeyDown('7', false); },
          {},
          "" },
        { "codes outside a byte are no command",
          [](Ptz &p, auto &) { p.SendPtzCommand(256), p.SendPtzCommand(-2); },
          {},
          "" },
        { "control off sends nothing",
          [](Ptz &p, auto &g) {
              g.settings.Ptz.AnyCamera = false;
              p.OnKeyDown(PtzKey::Right, false);
              p.OnKeyDown('1', true);
          },
          {},
          "" },
    };
    for (const Case &c : cases) {
        f.notifier.entries.clear();
        f.settings.Ptz.AnyCamera = true;
        f.settings.Ptz.CurrentAddress = 1;
        line.opens = line.closes = 0;
        Ptz fresh(f.context, line, t, t);
        c.act(fresh, f);
        EXPECT_EQ(Sent(), c.frames) << c.name;
        EXPECT_EQ(line.opens, int(c.frames.size() / 7)) << c.name << ": one open per frame";
        EXPECT_EQ(line.closes, line.opens) << c.name;
        if (c.box.empty()) {
            EXPECT_TRUE(f.notifier.entries.empty()) << c.name;
        } else {
            ASSERT_EQ(f.notifier.entries.size(), 1u) << c.name;
            EXPECT_EQ(f.notifier.entries[0].text, c.box) << c.name;
        }
    }
    EXPECT_EQ(peer.Baud(), 2400);
    EXPECT_TRUE(peer.Is8N1());
}

TEST_F(PtzTest, SpeedRules)
{
    struct Case
    {
        std::vector<int> keys; // pressed and released in turn
        std::vector<int> pan; // pan speed after each
        int tilt; // at the end
    };
    using K = std::vector<int>;
    const int in = PtzKey::Insert, out = PtzKey::Delete;
    const Case cases[] = {
        { K { in, in, in, in, in }, { 40, 30, 20, 10, 10 }, 10 },
        { K { in, in, in, in, out, out, out, out, out },
          { 40, 30, 20, 10, 20, 30, 40, 50, 50 },
          50 },
        // Page keys act on release, on the pan speed only (Page Up's press is the preset key).
        { K { PtzKey::PageDown, PtzKey::PageDown }, { 45, 40 }, 50 },
        { K(5, PtzKey::PageUp), { 55, 60, 63, 63, 63 }, 50 },
    };
    for (const Case &c : cases) {
        Ptz p(f.context, line, t, t);
        std::vector<int> pan;
        for (int key : c.keys) {
            if (key == in || key == out)
                p.OnKeyDown(key, false);
            p.OnKeyUp(key);
            pan.push_back(p.Speeds().pan);
        }
        EXPECT_EQ(pan, c.pan);
        EXPECT_EQ(p.Speeds().tilt, c.tilt);
    }
    // Page Down from 3 gives 1: 63 less twelve steps of 5.
    Ptz p(f.context, line, t, t);
    for (int i = 0; i < 3; ++i)
        p.OnKeyUp(PtzKey::PageUp);
    for (int i = 0; i < 12; ++i)
        p.OnKeyUp(PtzKey::PageDown);
    EXPECT_EQ(p.Speeds().pan, 3);
    p.OnKeyUp(PtzKey::PageDown);
    EXPECT_EQ(p.Speeds().pan, 1);
}

TEST_F(PtzTest, HeldKeyAndItsRelease)
{
    struct Case
    {
        int first, second;
        uint8_t bit;
    };
    const Case cases[] = {
        { PtzKey::Left, PtzKey::Right, kPtzLeft },
        { PtzKey::Down, PtzKey::Up, kPtzDown },
        { PtzKey::Insert, PtzKey::Delete, kPtzZoomIn },
    };
    for (const Case &c : cases) {
        Ptz p(f.context, line, t, t);
        Sent();
        f.clock.ticks = 1000;
        p.OnKeyDown(c.first, false);
        p.OnKeyDown(c.first, false); // auto-repeat
        p.OnKeyDown(c.second, false); // ignored while the first is held
        const Bytes moved = Sent();
        ASSERT_EQ(moved.size(), 7u);
        EXPECT_EQ(moved[3], c.bit);
        EXPECT_EQ(f.engine.MotionEnabled[3], 0) << "detection off while moving";
        EXPECT_EQ(f.engine.PtzStopped, 0);
        f.clock.ticks = 2000;
        p.OnKeyUp(c.first);
        const Bytes stopped = Sent();
        ASSERT_EQ(stopped.size(), 7u);
        EXPECT_EQ(stopped[3], 0) << "releasing it sends stop";
        EXPECT_EQ(f.engine.PtzStopped, 1);
        EXPECT_EQ(f.engine.PtzStopTime, 2000u);
        p.OnKeyUp(c.second);
        EXPECT_TRUE(Sent().empty()) << "the ignored key's release sends nothing";
    }
    // Two axes at once; Home stops and leaves no key held.
    Ptz p(f.context, line, t, t);
    p.OnKeyDown(PtzKey::Left, false);
    p.OnKeyDown(PtzKey::Up, false);
    EXPECT_EQ(p.MoveBits(), kPtzLeft | kPtzUp);
    p.OnKeyUp(PtzKey::Home);
    EXPECT_EQ(p.MoveBits(), 0);
    p.OnKeyDown(PtzKey::Right, false);
    EXPECT_EQ(p.MoveBits(), kPtzRight);
}

TEST(PtzPlanTest, Arithmetic)
{
    struct Case
    {
        int x, y, zoom;
        int64_t total;
        std::array<uint8_t, 3> commands;
        std::array<uint32_t, 3> durations;
        int64_t added;
    };
    const Case cases[] = {
        { 30, 20, 10, 0, { kPtzDown, kPtzRight, kPtzZoomIn }, { 100, 150, 50 }, 50 },
        { -30, -20, 0, 0, { kPtzUp, kPtzLeft, kPtzZoomIn }, { 100, 150, 1 }, 0 },
        { 0, 0, 10, 1300, { kPtzUp, kPtzLeft, kPtzZoomIn }, { 0, 0, 50 }, 50 },
        { 30, 20, 10, 1301, { kPtzDown, kPtzRight, kPtzZoomIn }, { 40, 60, 50 }, 50 },
        { 10, 10, -50, 0, { kPtzDown, kPtzRight, kPtzZoomIn }, { 50, 50, 1 }, 0 },
        { INT_MIN,
          INT_MAX,
          INT_MAX,
          0,
          { kPtzDown, kPtzLeft, kPtzZoomIn },
          { 1440 * 5, 1440 * 5, 1440 * 5 },
          1440 * 5 },
    };
    for (const Case &c : cases) {
        const PtzPlan plan = PlanPtzMove(c.x, c.y, c.zoom, c.total);
        EXPECT_EQ(plan.commands, c.commands) << c.x << "," << c.y;
        EXPECT_EQ(plan.durations, c.durations) << c.x << "," << c.y;
        EXPECT_EQ(plan.zoomAdded, c.added) << c.x << "," << c.y;
    }
    // The 4:3 corner follows the longer side.
    EXPECT_EQ(DragCorner({ 100, 60 }, { 200, 70 }), (GridPoint { 200, 135 }));
    EXPECT_EQ(DragCorner({ 100, 60 }, { 110, 120 }), (GridPoint { 180, 120 }));
    EXPECT_EQ(DragCorner({ 100, 60 }, { 20, 60 }), (GridPoint { 20, 120 }));
    // Each tile is measured from its own corner; a rectangle as wide as the tile zooms 1 ms.
    const ZoneGrid grid = ComputeZoneGrid(320, 240);
    EXPECT_EQ(DragToMove({ 100, 60 }, { 200, 135 }, grid.tiles[1]), (PtzMove { -10, -23, 220 }));
    EXPECT_EQ(DragToMove({ 420, 300 }, { 520, 375 }, grid.tiles[4]), (PtzMove { -10, -23, 220 }));
    EXPECT_EQ(DragToMove({ 300, 60 }, { 0, 285 }, grid.tiles[1]), (PtzMove { -10, 52, 20 }));
    const PtzMove wide = DragToMove({ 0, 0 }, { 320, 240 }, grid.tiles[1]);
    EXPECT_EQ(wide.zoom, 0);
    EXPECT_EQ(PlanPtzMove(wide.x, wide.y, wide.zoom, 0).durations[2], 1u);
    EXPECT_EQ(PtzKeyFromQt(Qt::Key_Insert), PtzKey::Insert);
    EXPECT_EQ(PtzKeyFromQt(Qt::Key_F), 'F');
    EXPECT_EQ(PtzKeyFromQt(Qt::Key_Escape), 0);
}

TEST_F(PtzTest, ClickToMoveStepsAndDetectionComingBack)
{
    MainTick tick { f.context, t, t, t, t, t, t, t, t };
    f.engine.SlowCounter = 1;
    f.clock.ticks = 10000;
    ptz.OnLButtonDown(100, 60);
    ptz.OnMouseMove(200, 70, true);
    EXPECT_TRUE(ptz.Dragging());
    EXPECT_EQ(ptz.DragCornerPoint(), (GridPoint { 200, 135 }));
    ptz.OnLButtonUp(200, 70);
    EXPECT_FALSE(ptz.Dragging());
    EXPECT_TRUE(t.selections.empty()) << "a drag selects no camera";

    // Up 23 px, left 10 px, zoom 220 at factor 5; then stop at the speeds zooming left.
    const struct
    {
        Bytes frame;
        int timer; // -1: not running
    } steps[] = {
        { { 0xFF, 0x01, 0x00, 0x08, 0x32, 0x32, 0x6D }, 115 },
        { { 0xFF, 0x01, 0x00, 0x04, 0x32, 0x32, 0x69 }, 50 },
        { { 0xFF, 0x01, 0x00, 0x20, 0x32, 0x32, 0x85 }, 1100 },
        { { 0xFF, 0x01, 0x00, 0x00, 0x28, 0x28, 0x51 }, -1 },
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        if (i > 0) {
            f.clock.Advance(steps[i - 1].timer);
            ptz.OnPtzStepTimer();
        }
        EXPECT_EQ(Sent(), steps[i].frame) << "step " << i + 1;
        const auto timer = f.timers.running.find(PTZ_STEP_TIMER);
        EXPECT_EQ(timer == f.timers.running.end() ? -1 : int(timer->second), steps[i].timer)
            << "step " << i + 1;
        EXPECT_EQ(f.engine.MotionEnabled[1], 0) << "step " << i + 1;
    }
    EXPECT_EQ(ptz.ZoomTotal(), 1100);
    EXPECT_EQ(f.engine.PtzStopped, 1);

    // The main tick brings detection back once 1500 ms have passed since the stop.
    f.clock.Advance(1500);
    tick.OnMainTick();
    EXPECT_EQ(f.engine.MotionEnabled[1], 0);
    f.clock.Advance(15);
    tick.OnMainTick();
    for (int c = 1; c <= kMaxCameras; ++c)
        EXPECT_EQ(f.engine.MotionEnabled[c], 1) << c;

    // A move after the stop and before the restore keeps detection off.
    ptz.StartPtzMove(0, 0, 0);
    f.clock.Advance(20);
    ptz.OnPtzStepTimer();
    ptz.OnPtzStepTimer();
    ptz.OnPtzStepTimer();
    f.clock.Advance(10);
    ptz.StartPtzMove(10, 0, 0);
    f.clock.Advance(2000);
    tick.OnMainTick();
    EXPECT_EQ(f.engine.MotionEnabled[1], 0);
    Sent();

    // Past 1300 the factor is 2, until the go-to-preset key starts the count again.
    ptz.StartPtzMove(0, 40, 100);
    EXPECT_EQ(f.timers.running[PTZ_STEP_TIMER], 200u);
    EXPECT_EQ(ptz.ZoomTotal(), 1600);
    ptz.StartPtzMove(0, 40, 100);
    EXPECT_EQ(f.timers.running[PTZ_STEP_TIMER], 80u);
    ptz.OnKeyDown('1', false);
    EXPECT_EQ(ptz.ZoomTotal(), 0);
    ptz.StartPtzMove(0, 40, 100);
    EXPECT_EQ(f.timers.running[PTZ_STEP_TIMER], 200u);

    // No plan for a camera that is not a PTZ camera, nor in review mode.
    f.timers.running.clear();
    f.engine.SelectedCamera = 2;
    ptz.StartPtzMove(0, 40, 100);
    f.engine.SelectedCamera = 1;
    f.engine.ReviewMode = 1;
    ptz.StartPtzMove(0, 40, 100);
    EXPECT_TRUE(f.timers.running.empty());
}

TEST_F(PtzTest, ClickSelectsTheCameraUnderThePointer)
{
    struct Case
    {
        const char *name;
        std::function<void(test::ServerFixture &)> set;
        int dx;
        std::vector<int> selected;
    };
    const Case cases[] = {
        { "still click", [](auto &) {}, 0, { 4 } },
        { "moved 4 px", [](auto &) {}, 4, { 4 } },
        { "moved 5 px is a drag", [](auto &) {}, 5, {} },
        { "zones open", [](auto &g) { g.view.TimedZonesOpen = true; }, 0, {} },
        { "camera settings open", [](auto &g) { g.engine.DialogCamera = 1; }, 0, {} },
        { "stopped", [](auto &g) { g.view.Idle = true; }, 0, {} },
        { "review", [](auto &g) { g.engine.ReviewMode = 1; }, 0, {} },
    };
    for (const Case &c : cases) {
        test::ServerFixture g;
        test::FakeTopics u;
        g.view.Idle = false;
        g.view.Grid = ComputeZoneGrid(320, 240);
        c.set(g);
        Ptz p(g.context, line, u, u);
        p.OnLButtonDown(400, 300);
        p.OnLButtonUp(400 + c.dx, 300);
        EXPECT_EQ(u.selections, c.selected) << c.name;
        EXPECT_TRUE(g.timers.running.empty()) << c.name << ": no PTZ camera selected";
    }
    // A short click while stopped on a selected PTZ camera is a move to that point.
    f.view.Idle = true;
    ptz.OnLButtonDown(40, 30);
    ptz.OnLButtonUp(40, 30);
    EXPECT_EQ(Sent(), (Bytes { 0xFF, 0x01, 0x00, 0x08, 0x32, 0x32, 0x6D })) << "up 90 px";
    EXPECT_EQ(f.timers.running[PTZ_STEP_TIMER], 450u);
    // The drag ends only inside the selected camera's tile.
    ptz.OnLButtonDown(40, 30);
    ptz.OnMouseMove(400, 30, true);
    ptz.OnMouseMove(50, 40, false);
    EXPECT_FALSE(ptz.Dragging());
}

TEST_F(PtzTest, FailingPortIsShownOncePerRunOfFailures)
{
    const std::string open = "Unable to open PTZ comport: Com3";
    f.profile.SetProfileString("Serial", "Com3", "/nonexistent/tty");
    // A viewer's and a timer's failures are only logged.
    ptz.SendPtzCommand(kPtzRight);
    ptz.StartPtzMove(5, 5, 5);
    EXPECT_TRUE(f.notifier.entries.empty());
    // The first key in the run shows the box; the release and the next keys only log.
    ptz.OnKeyDown(PtzKey::Right, false);
    ptz.OnKeyUp(PtzKey::Right);
    ptz.OnKeyDown('1', true);
    ASSERT_EQ(f.notifier.entries.size(), 1u) << "no ' Position 1 Set ' for a preset not set";
    EXPECT_EQ(f.notifier.entries[0].text, open);
    EXPECT_EQ(LogEntries(open), 5);
    EXPECT_EQ(ptz.Speeds(), PtzSpeeds {}) << "speeds change only with a frame sent";
    // The stop failed, yet detection comes back.
    EXPECT_EQ(f.engine.PtzStopped, 1);

    // A success re-arms the box.
    f.profile.SetProfileString("Serial", "Com3", peer.SlavePath());
    Key(PtzKey::Left);
    EXPECT_EQ(Sent().size(), 14u);
    f.profile.SetProfileString("Serial", "Com3", "/nonexistent/tty");
    Key(PtzKey::Left);
    Key(PtzKey::Left);
    ASSERT_EQ(f.notifier.entries.size(), 2u);
    EXPECT_EQ(f.notifier.entries[1].text, open);
    EXPECT_EQ(LogEntries(open), 9);
    EXPECT_EQ(line.opens, 11);
    EXPECT_EQ(line.closes, 2) << "a port that did not open is not closed";
}

TEST_F(PtzTest, LetterKeys)
{
    struct Case
    {
        int key;
        std::function<void(test::ServerFixture &, test::FakeTopics &)> set;
        std::vector<std::pair<uint32_t, uintptr_t>> posted;
        size_t capture, tuner, crossbar;
        std::vector<int> commands;
    };
    const auto none = [](auto &, auto &) {};
    const auto ready = [](auto &g, auto &) { g.view.DeviceReady = true; };
    const Case cases[] = {
        { 'F', none, { { WM_SHOW_FILTERS, 0 } }, 0, 0, 0, {} },
        { 'f', none, { { WM_SHOW_FILTERS, 0 } }, 0, 0, 0, {} },
        { 'm', none, { { WM_CAMERA_SETTINGS, 106 } }, 0, 0, 0, {} },
        { 's', none, {}, 1, 0, 0, {} },
        { 'T', none, {}, 0, 0, 0, {} },
        { 't', [](auto &g, auto &) { g.view.HasTvTuner = true; }, {}, 0, 1, 0, {} },
        { 'X', none, {}, 0, 0, 0, {} },
        { 'x', [](auto &, auto &u) { u.hasCrossbar = true; }, {}, 0, 0, 1, {} },
        { 'z', ready, {}, 0, 0, 0, { 144 } },
        { 'Z', none, {}, 0, 0, 0, {} },
        { 'Z', [&](auto &g, auto &u) { ready(g, u), g.view.Idle = true; }, {}, 0, 0, 0, {} },
        { 'Z', [&](auto &g, auto &u) { ready(g, u), g.engine.ReviewMode = 1; }, {}, 0, 0, 0, {} },
        { 'Z', [&](auto &g, auto &u) { ready(g, u), g.engine.TvMode = 1; }, {}, 0, 0, 0, {} },
    };
    for (const Case &c : cases) {
        test::ServerFixture g;
        test::FakeTopics u;
        g.view.Idle = false;
        c.set(g, u);
        Ptz p(g.context, line, u, u);
        std::vector<int> ran;
        p.RunCommand = [&](int id) { ran.push_back(id); };
        p.OnKeyDown(c.key, false);
        EXPECT_EQ(g.sink.posted, c.posted) << char(c.key);
        EXPECT_EQ(u.capturePages.size(), c.capture) << char(c.key);
        EXPECT_EQ(u.tunerPages.size(), c.tuner) << char(c.key);
        EXPECT_EQ(u.crossbarPages.size(), c.crossbar) << char(c.key);
        EXPECT_EQ(ran, c.commands) << char(c.key);
    }
    EXPECT_TRUE(Sent().empty());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
