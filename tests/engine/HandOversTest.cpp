#include "HandOvers.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

using namespace vorlund;

namespace {

// The three flags, each driven through its own verbs: what the raiser and the lowerer do, in the
// order the threads may do it, and what the reader sees after each step.
template <class Flag> struct FlagStep
{
    std::function<void(Flag &)> act;
    bool raised;
};

template <class Flag>
void RunFlag(const char *name, std::function<bool(const Flag &)> read, bool initial,
             const std::vector<FlagStep<Flag>> &steps)
{
    Flag flag;
    EXPECT_EQ(read(flag), initial) << name << " at start";
    for (size_t i = 0; i < steps.size(); ++i) {
        steps[i].act(flag);
        EXPECT_EQ(read(flag), steps[i].raised) << name << " step " << i;
    }
}

TEST(HandOvers, FlagsAreRaisedByOneSideAndLoweredByTheOther)
{
    const auto arm = [](VisitTrigger &t) { t.Arm(); };
    const auto disarm = [](VisitTrigger &t) { t.Disarm(); };
    RunFlag<VisitTrigger>("trigger", &VisitTrigger::IsArmed, false,
                          { { disarm, false }, { arm, true }, { arm, true }, { disarm, false } });

    const auto mark = [](VisitEnd &v) { v.Mark(); };
    const auto restart = [](VisitEnd &v) { v.Restart(); };
    RunFlag<VisitEnd>("visit end", &VisitEnd::IsMarked, true,
                      { { restart, false }, { mark, true }, { mark, true }, { restart, false } });

    const auto raise = [](LiveFrameNotice &n) { n.Raise(); };
    const auto sent = [](LiveFrameNotice &n) { n.Sent(); };
    RunFlag<LiveFrameNotice>(
        "live frame", &LiveFrameNotice::IsPending, false,
        { { sent, false }, { raise, true }, { raise, true }, { sent, false } });
}

TEST(HandOvers, RefreshServedKeepsARequestMadeMeanwhile)
{
    // ticket: read by the detector before the frame; served: after it saw motion.
    enum Op { Request, Read, Serve, Cancel };
    struct Case
    {
        const char *name;
        std::vector<Op> ops;
        bool pending;
    } cases[] = {
        { "nothing asked", { Read, Serve }, false },
        { "asked, served", { Request, Read, Serve }, false },
        { "asked twice, served", { Request, Request, Read, Serve }, false },
        { "asked while the frame was examined", { Request, Read, Request, Serve }, true },
        { "first asked while the frame was examined", { Read, Request, Serve }, true },
        { "the next frame serves it", { Read, Request, Serve, Read, Serve }, false },
        { "asked, not served", { Request, Read }, true },
        { "cancelled", { Request, Cancel }, false },
    };
    for (const Case &c : cases) {
        ReferenceRefresh refresh;
        uint32_t ticket = 0;
        for (Op op : c.ops) {
            switch (op) {
            case Request:
                refresh.Request();
                break;
            case Read:
                ticket = refresh.Ticket();
                break;
            case Serve:
                refresh.Served(ticket);
                break;
            case Cancel:
                refresh.Cancel();
                break;
            }
        }
        EXPECT_EQ(refresh.IsPending(), c.pending) << c.name;
        EXPECT_EQ(refresh.Ticket() != 0, c.pending) << c.name;
    }
}

TEST(HandOvers, StillRequestKeepsCameraAndKindTogether)
{
    struct Step
    {
        std::string op; // idle N | ask N | lapse N | withdraw N | cancel
        int camera;
        bool result; // what the step returned, where it returns something
        int32_t pending;
        bool timeLapse;
    };
    struct Case
    {
        const char *name;
        std::vector<Step> steps;
    } cases[] = {
        { "motion asks when idle",
          { { "idle", 2, true, 2, false }, { "idle", 3, false, 2, false } } },
        { "motion never overwrites a time-lapse request",
          { { "lapse", 3, true, 3, true }, { "idle", 1, false, 3, true } } },
        { "the user's request replaces a time-lapse one, kind and all",
          { { "lapse", 3, true, 3, true }, { "ask", 1, true, 1, false } } },
        { "a time-lapse request replaces the user's",
          { { "ask", 1, true, 1, false }, { "lapse", 4, true, 4, true } } },
        { "withdrawn only while it names the camera seen",
          { { "lapse", 3, true, 3, true },
            { "withdraw", 2, false, 3, true },
            { "withdraw", 3, true, 0, false },
            { "withdraw", 3, false, 0, false } } },
        { "a withdrawn time-lapse request takes its kind: motion's next is plain",
          { { "lapse", 2, true, 2, true },
            { "withdraw", 2, true, 0, false },
            { "idle", 2, true, 2, false } } },
        { "cancelled", { { "lapse", 2, true, 2, true }, { "cancel", 0, true, 0, false } } },
    };
    for (const Case &c : cases) {
        std::mutex lock;
        StillRequest request(lock);
        EXPECT_FALSE(request.IsPending()) << c.name;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &s = c.steps[i];
            bool result = true;
            if (s.op == "idle")
                result = request.RequestIfIdle(s.camera);
            else if (s.op == "ask")
                request.Request(s.camera, false);
            else if (s.op == "lapse")
                request.Request(s.camera, true);
            else if (s.op == "withdraw")
                result = request.Withdraw(s.camera);
            else
                request.Cancel();
            EXPECT_EQ(result, s.result) << c.name << " step " << i;
            EXPECT_EQ(request.Camera(), s.pending) << c.name << " step " << i;
            EXPECT_EQ(request.IsPending(), s.pending != 0) << c.name << " step " << i;
            EXPECT_EQ(request.IsTimeLapse(), s.timeLapse) << c.name << " step " << i;
        }
        EXPECT_TRUE(lock.try_lock()) << c.name << ": the lock is free after every step";
        lock.unlock();
    }
}

} // namespace
