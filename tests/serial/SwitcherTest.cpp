#include "CameraSwitcher.h"
#include "PtyPeer.h"
#include "SerialLine.h"
#include "ServerFixture.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace vorlund;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}
template <size_t N> Bytes B(const std::array<uint8_t, N> &a)
{
    return Bytes(a.begin(), a.end());
}

struct SwitcherTest : ::testing::Test
{
    test::ServerFixture f;
    test::FakeTopics t;
    SerialLine line { f.profile };
    CameraSwitcher switcher { f.context, line, t };

    void UsePort(const std::string &path)
    {
        f.profile.SetProfileString("Serial", "Com1", path);
        f.settings.Config.Block.SwitcherComPort = 1;
        line.ReadWaitMs = 50;
        line.ReadLimitMs = 120;
    }
};

TEST_F(SwitcherTest, VisitOrder)
{
    struct Case
    {
        int cameras;
        bool priority;
        std::vector<int> order;
    };
    const Case cases[] = {
        { 4, true, { 2, 1, 3, 1, 4, 1, 2 } },
        { 3, true, { 2, 1, 3, 1, 2, 1, 3 } },
        { 3, false, { 2, 3, 1, 2 } },
        { 1, false, { 1, 1, 1 } },
    };
    for (const Case &c : cases) {
        test::ServerFixture g;
        test::FakeTopics u;
        SerialLine unused { g.profile };
        CameraSwitcher s { g.context, unused, u };
        g.engine.SwitchType = 1;
        g.engine.CameraCount = c.cameras;
        g.engine.CycleCount = c.cameras;
        g.engine.CameraOnePriority = c.priority;
        std::vector<int> seen;
        for (size_t i = 0; i < c.order.size(); ++i) {
            s.SwitchCamera(0);
            seen.push_back(g.engine.CurrentCamera);
        }
        EXPECT_EQ(seen, c.order) << c.cameras << " cameras, priority " << c.priority;
        if (c.cameras > 1) {
            ASSERT_EQ(u.routes.size(), c.order.size());
            EXPECT_EQ(u.routes[0], c.order[0] - 1) << "inputs are 0-based";
        } else {
            EXPECT_TRUE(u.routes.empty()) << "one camera never touches the hardware";
        }
    }
}

TEST_F(SwitcherTest, VisitBookkeeping)
{
    f.engine.SwitchType = 1;
    f.engine.CameraCount = 4;
    f.engine.CycleCount = 4;

    // Nothing changes during a post-motion recording, not even Armed.
    f.engine.RecordCountdown = 5;
    f.engine.Armed.Disarm();
    switcher.SwitchCamera(3);
    EXPECT_EQ(f.engine.CurrentCamera, 1);
    EXPECT_FALSE(f.engine.Armed.IsArmed());
    f.engine.RecordCountdown = 0;

    // A camera outside 1..4 changes nothing.
    switcher.SwitchCamera(7);
    switcher.SwitchCamera(-5);
    EXPECT_EQ(f.engine.CurrentCamera, 1);
    EXPECT_TRUE(t.routes.empty());

    // The third visit asks for a refresh only when detection is on; the count restarts.
    for (bool motion : { false, true }) {
        f.engine.MotionEnabled[2] = motion;
        f.engine.RefreshRequest.Cancel();
        f.engine.VisitCount[2] = 0;
        for (int visit = 0; visit < 3; ++visit)
            switcher.SwitchCamera(2);
        EXPECT_EQ(f.engine.RefreshRequest.IsPending(), motion);
        EXPECT_EQ(f.engine.VisitCount[2], 0);
        EXPECT_TRUE(f.engine.Armed.IsArmed());
    }
    f.engine.SuppressCount = 0;
    switcher.SwitchCamera(0);
    EXPECT_EQ(f.engine.SuppressCount, 0);
    f.engine.SuppressCount = 2;
    switcher.SwitchCamera(0);
    EXPECT_EQ(f.engine.SuppressCount, 1);

    // Card inputs: present without a port, and -1 changes nothing.
    const int before = f.engine.CurrentCamera;
    switcher.SwitchCamera(-1);
    EXPECT_EQ(f.engine.CurrentCamera, before);
    switcher.DetectSwitcher();
    EXPECT_TRUE(f.view.SwitcherPresent);
    EXPECT_TRUE(f.notifier.entries.empty());
}

// An external switcher answering probes and set-up messages.
test::PtyPeer::Responder Switcher(Bytes answer)
{
    return [answer](Bytes &pending) -> Bytes {
        Bytes out;
        for (;;) {
            if (pending.empty())
                return out;
            size_t size = 1;
            if (pending[0] == 0x02)
                size = 4;
            else if (pending[0] == 0x10)
                size = 13;
            else if (pending[0] == 0x19)
                size = 5;
            if (pending.size() < size)
                return out;
            if (size > 1)
                out.insert(out.end(), answer.begin(), answer.end());
            pending.erase(pending.begin(), pending.begin() + long(size));
        }
    };
}

TEST_F(SwitcherTest, ProbeOverASerialLine)
{
    struct Case
    {
        Bytes answer;
        bool present;
        int probes;
        std::string message;
    };
    const Case cases[] = {
        { { 0x00, 0xFF, 0x02, 0x00, 0x00, 0x02 }, true, 1, "" },
        { { 0x00, 0xFF, 0x02, 0x7A, 0x13, 0x02 }, true, 1, "" },
        { { 0x00, 0xFF, 0x02, 0x00, 0x00, 0x03 },
          false,
          1,
          "Incorrect device on Com1\nLooking for Swivane." },
        { {},
          false,
          3,
          "Response timeout for Swivane on Com1\nCheck all cables and power supply." },
    };
    for (const Case &c : cases) {
        test::ServerFixture g;
        test::FakeTopics u;
        SerialLine port { g.profile };
        CameraSwitcher s { g.context, port, u };
        test::PtyPeer peer(Switcher(c.answer));
        ASSERT_FALSE(peer.SlavePath().empty());
        g.profile.SetProfileString("Serial", "Com1", peer.SlavePath());
        port.ReadWaitMs = 50;
        port.ReadLimitMs = 120;
        s.DetectSwitcher();
        Bytes expected;
        for (int i = 0; i < c.probes; ++i)
            expected = Cat({ expected, B(CameraSwitcher::kProbe) });
        EXPECT_EQ(peer.WaitForReceived(expected.size()), expected);
        EXPECT_EQ(g.view.SwitcherPresent, c.present);
        if (c.message.empty()) {
            EXPECT_TRUE(g.notifier.entries.empty());
            ASSERT_EQ(g.shell.balloons.size(), 1u) << "balloon while stopped";
            EXPECT_EQ(g.shell.balloons[0].title, "Vorlund Switcher Detected");
            EXPECT_EQ(g.shell.balloons[0].milliseconds, 1000);
        } else {
            ASSERT_EQ(g.notifier.entries.size(), 1u);
            EXPECT_EQ(g.notifier.entries[0].text, c.message);
        }
    }
}

TEST_F(SwitcherTest, InitialiseAndSelectBytes)
{
    test::PtyPeer peer(Switcher({ 0x00, 0xFF, 0x02, 0x00, 0x00, 0x02 }));
    UsePort(peer.SlavePath());
    f.engine.CameraCount = 4;
    f.engine.CycleCount = 4;
    f.engine.CurrentCamera = 1;

    switcher.SwitchCamera(-1);
    EXPECT_EQ(f.engine.CurrentCamera, 2);
    EXPECT_EQ(peer.Baud(), 9600);
    EXPECT_TRUE(peer.Is8N1());
    switcher.SwitchCamera(0);
    switcher.SwitchCamera(4);
    // The initialisation selects the camera that becomes current.
    const Bytes expected = Cat({ B(CameraSwitcher::kInitialise), B(CameraSwitcher::kSecondSetup),
                                 Bytes { '2', '3', '4' } });
    EXPECT_EQ(peer.WaitForReceived(expected.size()), expected);
    EXPECT_EQ(f.engine.CurrentCamera, 4);
    EXPECT_TRUE(f.notifier.entries.empty());
}

TEST_F(SwitcherTest, FailingPortIsShownOncePerRunOfFailures)
{
    const auto log = [&] {
        std::ifstream in(f.log.Path());
        return std::string((std::istreambuf_iterator<char>(in)), {});
    };
    const auto count = [&](const std::string &text) {
        const std::string all = log();
        int n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++n;
        return n;
    };
    // Ten seconds of four cameras visited in turn with the switcher's port gone.
    UsePort("/nonexistent/tty");
    f.engine.CameraCount = 4;
    f.engine.CycleCount = 4;
    for (int i = 0; i < 40; ++i)
        switcher.SwitchCamera(0);
    ASSERT_EQ(f.notifier.entries.size(), 1u);
    EXPECT_EQ(f.notifier.entries[0].text.rfind("Unable to open: Com1\nError: ", 0), 0u);
    EXPECT_EQ(f.engine.CurrentCamera, 1) << "the camera stays as it was";
    EXPECT_EQ(count("Unable to open: Com1"), 1) << log();

    // The port back: one recovery entry, then failures are logged and shown again.
    test::PtyPeer peer([](Bytes &pending) {
        pending.clear();
        return Bytes {};
    });
    UsePort(peer.SlavePath());
    for (int i = 0; i < 3; ++i)
        switcher.SwitchCamera(0);
    EXPECT_EQ(count("Swivane on Com1 ok again"), 1) << log();
    UsePort("/nonexistent/tty");
    switcher.SwitchCamera(0);
    switcher.SwitchCamera(0);
    EXPECT_EQ(count("Unable to open: Com1"), 2) << log();
    EXPECT_EQ(f.notifier.entries.size(), 2u);

    // Quiet probes (automatic restarts) only log.
    test::ServerFixture g;
    test::FakeTopics u;
    SerialLine port { g.profile };
    CameraSwitcher quiet { g.context, port, u };
    g.profile.SetProfileString("Serial", "Com1", "/nonexistent/tty");
    quiet.DetectSwitcher(true);
    EXPECT_TRUE(g.notifier.entries.empty());
    std::ifstream quietLog(g.log.Path());
    std::string text((std::istreambuf_iterator<char>(quietLog)), {});
    EXPECT_NE(text.find("Unable to open- Com1"), std::string::npos);
}

TEST_F(SwitcherTest, ReplyCompletingAfterTheLimitIsNotATimeOut)
{
    test::PtyPeer peer([](Bytes &pending) {
        pending.clear();
        return Bytes {};
    });
    UsePort(peer.SlavePath());
    line.ReadWaitMs = 400;
    line.ReadLimitMs = 200;
    std::string error;
    ASSERT_TRUE(line.Open("Com1", error)) << error;
    ASSERT_TRUE(line.SetLine(9600));
    // Half the reply at once, the rest after the limit but within one read's wait.
    peer.Send({ 0x00, 0xFF, 0x02 });
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peer.Send({ 0x00, 0x00, 0x02 });
    });
    std::array<uint8_t, 6> reply {};
    EXPECT_EQ(line.ReadSerialBytes(reply.data(), 6), 0);
    late.join();
    EXPECT_TRUE(CameraSwitcher::ReplyIsSwitcher(reply));
    EXPECT_EQ(line.ReadSerialBytes(reply.data(), 6), -1) << "silence times out";
    EXPECT_EQ(line.ReadSerialBytes(reply.data(), 0), 0);
    line.Close();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
