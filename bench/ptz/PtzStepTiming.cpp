// Hand-run measurement: click-to-move steps as a camera on a pseudo-terminal sees them. Each
// move's three steps run on the view's real timers; the time from one frame's arrival to the
// next is the step's length. Prints planned and measured lengths and whether each lies within
// 1 % or 5 ms, whichever is larger.
#include "PtyPeer.h"
#include "Ptz.h"
#include "QtTimers.h"
#include "SerialLine.h"
#include "ServerFixture.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

using namespace vorlund;
using Clock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    std::mutex lock;
    std::vector<Clock::time_point> frames; // arrival of each whole frame
    size_t bytes = 0;
    test::PtyPeer peer { [&](std::vector<uint8_t> &pending) {
        const Clock::time_point now = Clock::now();
        std::lock_guard guard(lock);
        for (size_t i = 0; i < pending.size(); ++i)
            if (++bytes % 7 == 0)
                frames.push_back(now);
        pending.clear();
        return std::vector<uint8_t> {};
    } };

    test::ServerFixture f;
    f.profile.SetProfileString("Serial", "Com3", peer.SlavePath());
    f.settings.Config.PtzComPort = 3;
    f.settings.Ptz.AnyCamera = true;
    f.settings.Ptz.CameraFlags[1] = 1;
    f.settings.Ptz.CurrentAddress = 1;
    f.engine.SelectedCamera = 1;
    f.view.Idle = false;
    Ptz *ptz = nullptr;
    QtTimers timers(&app, [&](int id) {
        if (id == PTZ_STEP_TIMER && ptz)
            ptz->OnPtzStepTimer();
    });
    ServerContext context { f.engine, f.view, f.settings, f.profile, f.clock, f.notifier,
                            f.log,    f.sink, timers,     f.shell,   f.sound };
    SerialLine line { f.profile };
    test::FakeTopics topics;
    Ptz control { context, line, topics, topics };
    ptz = &control;

    struct Move
    {
        int x, y, zoom;
    };
    // 300, 305 and 1200 ms; short steps; factor 2 past the fine zoom range.
    const Move moves[] = { { 61, 60, 240 }, { -10, 4, 10 }, { 100, -150, 30 } };
    int outside = 0;
    std::printf("%-22s %8s %10s %10s %s\n", "move", "step", "planned", "measured", "within");
    for (int round = 0; round < rounds; ++round) {
        for (const Move &m : moves) {
            const PtzPlan plan = PlanPtzMove(m.x, m.y, m.zoom, control.ZoomTotal());
            {
                std::lock_guard guard(lock);
                frames.clear();
            }
            control.StartPtzMove(m.x, m.y, m.zoom);
            const Clock::time_point bound = Clock::now() + std::chrono::seconds(10);
            for (;;) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
                std::lock_guard guard(lock);
                if (frames.size() >= 4 || Clock::now() > bound)
                    break;
            }
            std::lock_guard guard(lock);
            if (frames.size() < 4) {
                std::printf("move %d,%d,%d: only %zu frames arrived\n", m.x, m.y, m.zoom,
                            frames.size());
                return 2;
            }
            for (int step = 0; step < 3; ++step) {
                const double measured = std::chrono::duration<double, std::milli>(
                                            frames[size_t(step) + 1] - frames[size_t(step)])
                                            .count();
                const double planned = plan.durations[size_t(step)];
                const double allowed = std::max(planned * 0.01, 5.0);
                const bool within = std::fabs(measured - planned) <= allowed;
                outside += within ? 0 : 1;
                char name[32];
                std::snprintf(name, sizeof name, "%d,%d,%d", m.x, m.y, m.zoom);
                std::printf("%-22s %8d %10.0f %10.1f %s\n", name, step + 1, planned, measured,
                            within ? "yes" : "NO");
            }
        }
    }
    std::printf("steps outside 1 %% or 5 ms: %d\n", outside);
    return outside == 0 ? 0 : 1;
}
