#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vorlund {

// What the UI thread and the streaming thread hand each other. Each type owns its protocol:
// who raises it, who lowers it, and what a lowering must not lose. All orders are sequentially
// consistent.

namespace detail {

// A flag one thread raises and the other lowers; the types below name who does which.
class HandOverFlag
{
protected:
    explicit HandOverFlag(bool raised) : m_raised(raised ? 1 : 0) { }
    void Raise() { m_raised.store(1); }
    void Lower() { m_raised.store(0); }
    bool IsRaised() const { return m_raised.load() != 0; }

private:
    std::atomic<uint8_t> m_raised;
};

} // namespace detail

// A visit's trigger: the switcher arms each new visit; the detector disarms it once cells are
// hit, whether that fired or not, so a visit fires at most once.
class VisitTrigger : detail::HandOverFlag
{
public:
    VisitTrigger() : HandOverFlag(false) { }
    void Arm() { Raise(); } // UI: a new visit
    void Disarm() { Lower(); } // streaming: cells were hit
    bool IsArmed() const { return IsRaised(); }
};

// The end of a camera's visit: the detector marks it when it is done with the camera; the main
// tick, seeing it, switches to the next camera and then starts the new visit unmarked. A new
// engine counts as done, so the first tick moves on.
class VisitEnd : detail::HandOverFlag
{
public:
    VisitEnd() : HandOverFlag(true) { }
    void Mark() { Raise(); } // streaming
    bool IsMarked() const { return IsRaised(); } // UI
    void Restart() { Lower(); } // UI, once it switched
};

// A live frame not sent yet: the detector raises it with each new live frame, remote serving
// lowers it once it sent one. The detector may skip frames while one waits.
class LiveFrameNotice : detail::HandOverFlag
{
public:
    LiveFrameNotice() : HandOverFlag(false) { }
    void Raise() { HandOverFlag::Raise(); } // streaming
    void Sent() { Lower(); } // UI (remote serving)
    bool IsPending() const { return IsRaised(); }
};

// The switcher's request for a fresh reference. The detector reads the ticket before it
// examines a frame and, once it saw motion, serves that ticket. Every request is a new ticket,
// so one made while a frame is examined outlives the serving and is seen with the next frame.
class ReferenceRefresh
{
public:
    void Request() // UI
    {
        uint32_t v = m_ticket.load();
        while (!m_ticket.compare_exchange_weak(v, v + 1 == 0 ? 1 : v + 1)) { }
    }
    uint32_t Ticket() const { return m_ticket.load(); } // streaming; 0: none pending
    void Served(uint32_t ticket) { m_ticket.compare_exchange_strong(ticket, 0); } // streaming
    bool IsPending() const { return Ticket() != 0; }
    void Cancel() { m_ticket.store(0); }

private:
    std::atomic<uint32_t> m_ticket { 0 };
};

// The still request: the camera whose next frame the detector keeps as a still, and whether
// for the time lapse. Motion asks without the lock, and only when nothing is pending, so no
// other request is overwritten; every other change, and every clear, happens under the lock
// the still is copied under, so the detector's check-and-copy never straddles a clear and a
// still is filed under the kind it was taken for.
class StillRequest
{
public:
    explicit StillRequest(std::mutex &lock) : m_lock(lock) { }
    StillRequest(const StillRequest &) = delete;
    StillRequest &operator=(const StillRequest &) = delete;

    int32_t Camera() const { return m_camera.load(); } // 0: none pending
    bool IsPending() const { return Camera() != 0; }
    bool IsTimeLapse() const { return m_timeLapse.load() != 0; }

    bool RequestIfIdle(int camera) // streaming, on motion
    {
        int32_t idle = 0;
        return m_camera.compare_exchange_strong(idle, camera);
    }
    // The user's and the time lapse's requests replace a pending one, kind and all.
    void Request(int camera, bool timeLapse)
    {
        std::lock_guard lock(m_lock);
        m_timeLapse.store(timeLapse ? 1 : 0);
        m_camera.store(camera);
    }
    // Clears the request only if it still names `seen`. False when it changed meanwhile.
    bool Withdraw(int32_t seen)
    {
        std::lock_guard lock(m_lock);
        return WithdrawLocked(seen);
    }
    void Cancel()
    {
        std::lock_guard lock(m_lock);
        m_camera.store(0);
        m_timeLapse.store(0);
    }

private:
    friend class EngineState; // serves and answers under its lock
    bool NamesLocked(int camera) const { return m_camera.load() == camera; }
    bool WithdrawLocked(int32_t seen)
    {
        if (!m_camera.compare_exchange_strong(seen, 0))
            return false;
        m_timeLapse.store(0);
        return true;
    }
    // A still for `camera` of that kind was taken: clear the request it answered, not one of
    // another camera or kind set since.
    void AnsweredLocked(int32_t camera, bool timeLapse)
    {
        if (IsTimeLapse() == timeLapse)
            WithdrawLocked(camera);
    }

    std::mutex &m_lock;
    std::atomic<int32_t> m_camera { 0 };
    std::atomic<uint8_t> m_timeLapse { 0 };
};

} // namespace vorlund
