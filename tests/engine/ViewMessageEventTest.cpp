#include "ViewMessageEvent.h"
#include "FrameTestUtil.h"
#include "MotionGrabber.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace vorlund;

namespace {

class Receiver : public QObject
{
public:
    std::vector<uint32_t> messages;
    Qt::HANDLE thread = nullptr;

protected:
    void customEvent(QEvent *e) override
    {
        if (e->type() == ViewMessageEvent::kType) {
            messages.push_back(static_cast<ViewMessageEvent *>(e)->message());
            thread = QThread::currentThreadId();
        }
    }
};

TEST(ViewMessageEvent, DetectorMessagesArriveOnTheReceiversThread)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    Receiver receiver;
    QueuedEventSink sink(&receiver);

    EngineState state;
    state.ViewWindow = &sink;
    CMotionGrabber grabber(state);
    grabber.SetFormat(64, 64, 0);
    ZoneMaskBytes all;
    all.fill(1);
    state.SetZoneMask(1, 4, all);
    state.MotionEnabled[1] = 1;
    state.SoundOnMotion[1] = 1;
    state.SnapOnMotion[1] = 1;
    state.Armed.Arm();
    test::Frame moving(64, 64, 0);
    moving.Shift(1, 1, 6, 7, 200);

    std::thread streaming([&] {
        grabber.BufferCB(0, moving.bytes.data(), long(moving.bytes.size())); // fires
        grabber.BufferCB(0, moving.bytes.data(), long(moving.bytes.size())); // still
    });
    streaming.join();
    EXPECT_TRUE(receiver.messages.empty()) << "nothing is delivered until the loop runs";

    QElapsedTimer timer;
    timer.start();
    while (receiver.messages.size() < 2 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(receiver.messages, (std::vector<uint32_t> { WM_PLAY_SNAP, WM_FRAME_GRABBED }));
    EXPECT_EQ(receiver.thread, QThread::currentThreadId());
}

} // namespace
