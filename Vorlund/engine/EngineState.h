#pragma once

#include "CameraTypes.h"
#include "FrameRows.h"
#include "HandOvers.h"
#include "Messages.h"
#include "ZeroPages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vorlund {

inline constexpr size_t kFrameBufferSize = 1253824;

// What a still frame is: the camera and kind of the request it answered, and its geometry, as
// the detector copied it. Kept with the buffer under the same lock, so a picture is filed under
// the camera and kind it was taken for even when the current camera or the request changed
// since.
struct StillInfo
{
    int32_t Camera = 0;
    bool TimeLapse = false;
    int32_t Width = 0;
    int32_t Height = 0;
    size_t Length = 0;
    double SampleTime = 0.0;
};
using CellFlags = std::array<std::atomic<uint8_t>, kCells>;

class EngineState;

// A reader's hold on a camera's live frame, without a copy: while the loan lasts its slot keeps
// that frame, and the streaming thread keeps newer frames in other slots. Returned when it ends
// (or by Return). Empty (no data) for a camera that is none, or while another loan is out.
class LiveFrameLoan
{
public:
    LiveFrameLoan() = default;
    LiveFrameLoan(LiveFrameLoan &&other) noexcept { *this = std::move(other); }
    LiveFrameLoan &operator=(LiveFrameLoan &&other) noexcept;
    ~LiveFrameLoan() { Return(); }

    const uint8_t *Data() const { return m_data; }
    size_t Size() const { return m_size; }
    uint32_t Serial() const { return m_serial; } // the frame's LiveFrameSerial
    void Return();

private:
    friend class EngineState;
    EngineState *m_owner = nullptr;
    const uint8_t *m_data = nullptr;
    size_t m_size = 0;
    uint32_t m_serial = 0;
};

// The one record of capture-engine state, shared by the streaming thread (the motion detector,
// CMotionGrabber::BufferCB and what it calls) and the UI thread (everything else: the topics,
// the timers, the dialogs, remote serving, the graph's build). Scalars are atomics; a
// read-modify-write that both threads make uses compare-and-swap; the live and still frame
// buffers are copied under one lock held only for the copy. The reference frames belong to the
// streaming thread alone. Each group below says who writes and who reads; "UI" and "streaming"
// name the two threads.
class EngineState
{
public:
    EngineState();
    EngineState(const EngineState &) = delete;
    EngineState &operator=(const EngineState &) = delete;

    // --- Frame buffers --------------------------------------------------------------------
    // The live and reference frames are slots of one pool: the detector copies a frame once,
    // into the slot in progress, and then keeps that slot as the camera's live frame, its
    // reference, or both, so neither takes a copy of its own. Readers copy out under the lock,
    // or borrow a live frame's slot (BorrowLiveFrame).

    // Streaming thread only (and tests before capture runs). The writable form gives the
    // reference a slot of its own first when it shares the live frame's.
    uint8_t *ReferenceFrame(int camera);
    const uint8_t *ReferenceFrame(int camera) const
    {
        return IsCamera(camera) ? Slot(m_referenceSlot[camera]) : Slot(m_referenceSlot[1]);
    }
    // Streaming thread only: where the detector copies the frame it examines (a whole buffer).
    uint8_t *FrameInProgress() { return Slot(m_progressSlot); }
    // Streaming thread only: the frame in progress becomes the camera's live frame (readers see
    // it from now), its reference, or both; another free slot takes its place.
    void KeepFrameInProgress(int camera, bool asLive, bool asReference);

    // Writers: the length is clamped to the buffer; returns the bytes copied.
    size_t WriteLiveFrame(int camera, const uint8_t *data, size_t length);
    size_t WriteLiveFrame(int camera, const FrameRows &frame);
    size_t WriteStillFrame(const uint8_t *data, size_t length, double sampleTime);
    void ClearLiveFrame(int camera);

    // Readers copy out under the lock and then work on their copy. `length` bytes are copied
    // (at most the buffer size); out is resized to that.
    // `serial`, when given, gets the frame's LiveFrameSerial under the same lock.
    size_t CopyLiveFrameOut(int camera, std::vector<uint8_t> &out, size_t length,
                            uint32_t *serial = nullptr) const;
    size_t CopyStillFrameOut(std::vector<uint8_t> &out, size_t length, double *sampleTime) const;
    // Or borrow the live frame's slot: the lock is held only to take it and to give it back, so
    // the reader may scale or encode its first `length` bytes meanwhile. One loan at a time.
    LiveFrameLoan BorrowLiveFrame(int camera, size_t length);
    // Or hand the live frame's first `length` bytes to `read` under the lock, for a reader
    // that copies it in another form (the view converts as it copies).
    template <class Read> size_t ReadLiveFrame(int camera, size_t length, Read &&read) const
    {
        if (!IsCamera(camera))
            return 0;
        length = std::min(length, kFrameBufferSize);
        std::lock_guard lock(m_bufferLock);
        read(LiveBuffer(camera), length);
        return length;
    }

    // The still hand-over. The detector serves the request for `camera`: under the lock, and
    // only while the request still names that camera, the frame is copied with the request's
    // kind and marked fresh. Returns false when the request has gone or changed meanwhile.
    bool ServeStillRequest(int camera, int width, int height, const uint8_t *data, size_t length,
                           double sampleTime);
    bool ServeStillRequest(int camera, int width, int height, const FrameRows &frame,
                           double sampleTime);
    // The saver takes a fresh still once: copies it out with what it is, and clears the request
    // it answered (unless a newer request replaced it). False when no fresh still waits.
    bool TakeStillFrame(std::vector<uint8_t> &out, StillInfo &info);

    // --- Frame geometry ------------------------------------------------------------------
    // UI writes at each graph build (the detector's SetFormat, before the stream runs);
    // streaming reads with every frame, UI reads (review, run control, device pages).
    std::atomic<int32_t> FrameWidth { 0 };
    std::atomic<int32_t> FrameHeight { 0 };
    std::atomic<int32_t> PixelCount { 0 };
    // Streaming writes with every frame; UI reads (remote serving).
    std::atomic<int32_t> FrameLength { 0 };
    // Streaming writes with the still, under the buffer lock; UI reads (the snapshot saver).
    std::atomic<double> StillSampleTime { 0.0 };
    // Streaming sets it when a camera's live frame is new; UI clears it once painted.
    PerCamera<std::atomic<uint8_t>> FreshFrame {};
    // Counts each camera's live frame writes (under the buffer lock): a reader that kept what
    // it made of one frame knows by the count whether the buffer still holds that frame.
    // Streaming writes; UI reads (remote serving).
    PerCamera<std::atomic<uint32_t>> LiveFrameSerial {};
    LiveFrameNotice LiveFramePending;

    // --- Per-camera runtime settings ------------------------------------------------------
    // UI writes (settings load, dialogs, remote commands, the main tick); streaming reads.
    // Only Sensitivity is also written by streaming: auto-calibration steps it by
    // compare-and-swap.
    PerCamera<std::atomic<int32_t>> Sensitivity {};
    PerCamera<std::atomic<uint8_t>> MotionEnabled {};
    PerCamera<std::atomic<uint8_t>> SavedMotionEnabled {};
    PerCamera<std::atomic<uint8_t>> RecordOnMotion {};
    PerCamera<std::atomic<int32_t>> RecordSeconds {};
    PerCamera<std::atomic<uint8_t>> SnapOnMotion {};
    PerCamera<std::atomic<uint8_t>> SoundOnMotion {};
    PerCamera<std::atomic<uint8_t>> MailOnMotion {};
    PerCamera<std::atomic<uint8_t>> MotionDistanceEnabled {};
    PerCamera<std::atomic<int32_t>> MotionDistance {};
    PerCamera<PerCamera<CellFlags>> ZoneMask {}; // [camera][zone]
    PerCamera<PerCamera<std::atomic<uint8_t>>> ZoneSensitivity {}; // [camera][zone]
    PerCamera<std::atomic<int32_t>> ZoneSensitivityEnabled {};

    ZoneMaskBytes GetZoneMask(int camera, int zone) const;
    void SetZoneMask(int camera, int zone, const ZoneMaskBytes &mask);
    // The mask the detector uses for a zone number: 1..3 as given, anything else zone 4.
    static int MaskZone(int currentZone)
    {
        return currentZone >= 1 && currentZone <= 3 ? currentZone : 4;
    }

    // --- Per-camera detection state -------------------------------------------------------
    // Streaming writes the hits of each scored frame; UI reads them (view, remote serving,
    // snapshots) and clears them on a stop or a camera switch.
    PerCamera<CellFlags> HitMap {};
    PerCamera<std::array<int32_t, kCells>> LastScore {}; // streaming only
    PerCamera<std::atomic<uint8_t>> Confirm {}; // streaming only
    PerCamera<std::atomic<uint8_t>> VisitCount {}; // UI only (the camera switcher)

    ZoneMaskBytes GetHitMap(int camera) const;
    void ClearHitMap(int camera);
    void ClearHitMaps();

    // --- Camera sequencing ----------------------------------------------------------------
    // UI writes (camera switcher, main tick, configuration, remote commands); streaming reads
    // CurrentCamera, CameraCount, SwitchType, SwitchBusy and SuppressCount; the hand-overs
    // say who sets and who clears them.
    std::atomic<int32_t> CurrentCamera { 1 };
    std::atomic<int32_t> CameraCount { 1 };
    std::atomic<int32_t> CycleCount { 1 };
    std::atomic<int32_t> SelectedCamera { 0 };
    std::atomic<int32_t> SwitchType { 0 };
    std::atomic<uint8_t> CameraOnePriority { 0 };
    std::atomic<int32_t> PriorityNext { 1 };
    std::atomic<int32_t> SwitchBusy { 0 };
    std::atomic<uint32_t> SwitchTime { 0 };
    std::atomic<uint32_t> SettleTime { 200 };
    std::atomic<uint32_t> SavedSettleTime { 0 };
    VisitEnd FrameDone;
    VisitTrigger Armed;
    std::atomic<uint8_t> SuppressCount { 0 };
    ReferenceRefresh RefreshRequest;

    // --- Recording and snapshots ----------------------------------------------------------
    // Streaming starts them on motion; the main tick (UI) counts them down with
    // DecrementIfPositive and ends them; UI reads RecordCountdown (view, switcher).
    std::atomic<int32_t> RecordCountdown { 0 };
    std::atomic<int32_t> HoldTicks { 0 };
    // UI only: the record gate as last set (graph, main tick, run control).
    std::atomic<uint8_t> GateOpen { 0 };
    // Requested by the user, the time lapse and motion; served by the detector (ServeStillRequest)
    // and answered by the saver (TakeStillFrame) under the buffer lock.
    StillRequest SnapshotRequest { m_bufferLock };

    // --- Zones and calibration ------------------------------------------------------------
    // UI writes (timed zones, main tick, settings); streaming reads CurrentZone and
    // CalibrationMode.
    std::atomic<uint8_t> CurrentZone { 0 };
    std::atomic<uint8_t> CalibratedZone { 5 };
    std::atomic<uint8_t> CalibrationMode { 0 };
    std::atomic<uint8_t> AutoCalibrate { 0 };

    // --- Modes ----------------------------------------------------------------------------
    // UI writes (dialogs, review, configuration, the profile); streaming reads DialogCamera,
    // ReviewMode, TvMode and OptimizePerformance.
    std::atomic<uint8_t> DialogCamera { 0 };
    std::atomic<uint8_t> ZoneEditing { 0 };
    std::atomic<int32_t> ReviewMode { 0 };
    std::atomic<int32_t> TvMode { 0 };
    std::atomic<uint8_t> OptimizePerformance { 0 };

    // --- Main tick bookkeeping ------------------------------------------------------------
    // UI only, but for ViewWindow: set by the UI once the view exists, read by any thread that
    // posts (Post).
    std::atomic<int32_t> SlowCounter { 12001 };
    std::atomic<int32_t> SlowPeriod { 12000 };
    std::atomic<int32_t> PtzStopped { 0 };
    std::atomic<uint32_t> PtzStopTime { 0 };
    std::atomic<int32_t> KeepDeviceFilter { 0 };
    std::atomic<IMessageSink *> ViewWindow { nullptr };

    // --- Run priming ----------------------------------------------------------------------
    // The engine part of starting a run: refresh every camera on its first visit, replace the
    // reference even when cells are hit, keep the first ten switches from firing.
    void PrimeForStart();
    // The engine part of stopping: gates shut, every camera due a repaint, settle time back,
    // hit maps cleared. The buffers keep their contents.
    void ResetOnStop();

    // --- Hand-over helpers (safe against the other thread's writes) -----------------------
    // Counts an atomic down by one while it is above zero; returns the value left.
    template <typename T> static T DecrementIfPositive(std::atomic<T> &value)
    {
        T v = value.load();
        while (v > 0 && !value.compare_exchange_weak(v, static_cast<T>(v - 1))) { }
        return v > 0 ? static_cast<T>(v - 1) : v;
    }

    void Post(uint32_t message) const
    {
        if (IMessageSink *sink = ViewWindow.load(std::memory_order_acquire))
            sink->PostMessage(message);
    }

private:
    static constexpr int kStill = 0;
    // Four live frames, four references, the one in progress and one on loan to a reader: with
    // a live frame and a reference sharing a slot, or a live frame on loan, one is always free
    // for a writer that must not touch it.
    static constexpr int kSlots = 2 * kMaxCameras + 2;
    static constexpr size_t kBuffersBytes = (1 + kSlots) * kFrameBufferSize;
    static constexpr uint8_t kNoSlot = 0xFF;
    uint8_t *Buffer(int index)
    {
        return m_buffers.Data() + static_cast<size_t>(index) * kFrameBufferSize;
    }
    const uint8_t *Buffer(int index) const
    {
        return m_buffers.Data() + static_cast<size_t>(index) * kFrameBufferSize;
    }
    uint8_t *Slot(int slot) { return Buffer(1 + slot); }
    const uint8_t *Slot(int slot) const { return Buffer(1 + slot); }
    uint8_t *LiveBuffer(int camera) { return Slot(m_liveSlot[camera]); }
    const uint8_t *LiveBuffer(int camera) const { return Slot(m_liveSlot[camera]); }
    // Under the lock: a slot that is no camera's live frame or reference, not in progress and
    // not on loan.
    int FreeSlot() const;
    // Under the lock: gives the camera's live frame a slot that neither the reference shares nor
    // a reader holds, with the bytes from `keepFrom` on that the writer will not overwrite.
    void UnshareLive(int camera, size_t keepFrom);
    friend class LiveFrameLoan;
    void ReturnLiveFrame();

    // The still and the slots, mapped once from the system's zeroed pages, so a buffer takes
    // memory only once it is written (one camera never writes the slots of the other three).
    // Each starts a cache line (the size is a multiple of 64): where a row is a whole number
    // of lines (widths that are multiples of 64, such as 320 and 640), the detector's 32-byte
    // loads and stores split no line.
    ZeroPages m_buffers;
    // Slot numbers. The live ones change under the lock; the reference and in-progress ones
    // only on the streaming thread, also under the lock, so the lock's holders see them whole.
    PerCamera<uint8_t> m_liveSlot {};
    PerCamera<uint8_t> m_referenceSlot {};
    uint8_t m_progressSlot = 0;
    uint8_t m_loanedSlot = kNoSlot; // under the lock: the slot a reader borrowed
    mutable std::mutex m_bufferLock; // held only while a frame is copied or a slot changes hands
    StillInfo m_still; // guarded by m_bufferLock
    bool m_stillFresh = false; // guarded by m_bufferLock: a served still not taken yet
};

} // namespace vorlund
