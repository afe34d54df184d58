#include "EngineState.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vorlund {

static_assert(kFrameBufferSize % 64 == 0);

EngineState::EngineState() : m_buffers(kBuffersBytes)
{
    for (int c = 1; c <= kMaxCameras; ++c) {
        m_liveSlot[c] = static_cast<uint8_t>(c - 1);
        m_referenceSlot[c] = static_cast<uint8_t>(kMaxCameras + c - 1);
    }
    m_liveSlot[0] = m_liveSlot[1];
    m_referenceSlot[0] = m_referenceSlot[1];
    m_progressSlot = 2 * kMaxCameras;
    for (int c = 1; c <= kMaxCameras; ++c) {
        Sensitivity[c] = 25;
        MotionDistance[c] = 12;
        Confirm[c] = 1;
    }
}

size_t EngineState::WriteLiveFrame(int camera, const uint8_t *data, size_t length)
{
    return WriteLiveFrame(camera, FrameRows::Packed(data, length, 0));
}

int EngineState::FreeSlot() const
{
    bool used[kSlots] = {};
    for (int c = 1; c <= kMaxCameras; ++c)
        used[m_liveSlot[c]] = used[m_referenceSlot[c]] = true;
    used[m_progressSlot] = true;
    if (m_loanedSlot != kNoSlot)
        used[m_loanedSlot] = true;
    for (int slot = 0; slot < kSlots; ++slot)
        if (!used[slot])
            return slot;
    return -1; // not reached: ten slots hold at most eight frames, one in progress, one on loan
}

void EngineState::UnshareLive(int camera, size_t keepFrom)
{
    if (m_liveSlot[camera] != m_referenceSlot[camera] && m_liveSlot[camera] != m_loanedSlot)
        return;
    const int slot = FreeSlot();
    if (keepFrom < kFrameBufferSize)
        std::memcpy(Slot(slot) + keepFrom, LiveBuffer(camera) + keepFrom,
                    kFrameBufferSize - keepFrom);
    m_liveSlot[camera] = static_cast<uint8_t>(slot);
}

uint8_t *EngineState::ReferenceFrame(int camera)
{
    if (!IsCamera(camera))
        camera = 1;
    std::lock_guard lock(m_bufferLock);
    if (m_referenceSlot[camera] == m_liveSlot[camera] || m_referenceSlot[camera] == m_loanedSlot) {
        const int slot = FreeSlot();
        std::memcpy(Slot(slot), Slot(m_referenceSlot[camera]), kFrameBufferSize);
        m_referenceSlot[camera] = static_cast<uint8_t>(slot);
    }
    return Slot(m_referenceSlot[camera]);
}

void EngineState::KeepFrameInProgress(int camera, bool asLive, bool asReference)
{
    if (!IsCamera(camera) || (!asLive && !asReference))
        return;
    std::lock_guard lock(m_bufferLock);
    if (asLive) {
        m_liveSlot[camera] = m_progressSlot;
        LiveFrameSerial[camera].fetch_add(1);
    }
    if (asReference)
        m_referenceSlot[camera] = m_progressSlot;
    m_progressSlot = static_cast<uint8_t>(FreeSlot());
}

size_t EngineState::WriteLiveFrame(int camera, const FrameRows &frame)
{
    if (!IsCamera(camera))
        return 0;
    const size_t length = std::min(frame.bytes, kFrameBufferSize);
    std::lock_guard lock(m_bufferLock);
    UnshareLive(camera, length);
    frame.CopyTo(LiveBuffer(camera), length);
    LiveFrameSerial[camera].fetch_add(1);
    return length;
}

size_t EngineState::WriteStillFrame(const uint8_t *data, size_t length, double sampleTime)
{
    length = std::min(length, kFrameBufferSize);
    std::lock_guard lock(m_bufferLock);
    std::memcpy(Buffer(kStill), data, length);
    StillSampleTime.store(sampleTime);
    return length;
}

void EngineState::ClearLiveFrame(int camera)
{
    if (!IsCamera(camera))
        return;
    std::lock_guard lock(m_bufferLock);
    UnshareLive(camera, kFrameBufferSize);
    std::memset(LiveBuffer(camera), 0, kFrameBufferSize);
    LiveFrameSerial[camera].fetch_add(1);
}

size_t EngineState::CopyLiveFrameOut(int camera, std::vector<uint8_t> &out, size_t length,
                                     uint32_t *serial) const
{
    if (!IsCamera(camera)) {
        out.clear();
        return 0;
    }
    out.resize(std::min(length, kFrameBufferSize));
    return ReadLiveFrame(camera, out.size(), [&](const uint8_t *frame, size_t n) {
        std::memcpy(out.data(), frame, n);
        if (serial)
            *serial = LiveFrameSerial[camera].load();
    });
}

LiveFrameLoan EngineState::BorrowLiveFrame(int camera, size_t length)
{
    LiveFrameLoan loan;
    if (!IsCamera(camera))
        return loan;
    std::lock_guard lock(m_bufferLock);
    if (m_loanedSlot != kNoSlot)
        return loan;
    m_loanedSlot = m_liveSlot[camera];
    loan.m_owner = this;
    loan.m_data = Slot(m_loanedSlot);
    loan.m_size = std::min(length, kFrameBufferSize);
    loan.m_serial = LiveFrameSerial[camera].load();
    return loan;
}

void EngineState::ReturnLiveFrame()
{
    std::lock_guard lock(m_bufferLock);
    m_loanedSlot = kNoSlot;
}

LiveFrameLoan &LiveFrameLoan::operator=(LiveFrameLoan &&other) noexcept
{
    if (this != &other) {
        Return();
        m_owner = std::exchange(other.m_owner, nullptr);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_serial = other.m_serial;
    }
    return *this;
}

void LiveFrameLoan::Return()
{
    if (EngineState *owner = std::exchange(m_owner, nullptr))
        owner->ReturnLiveFrame();
    m_data = nullptr;
    m_size = 0;
}

size_t EngineState::CopyStillFrameOut(std::vector<uint8_t> &out, size_t length,
                                      double *sampleTime) const
{
    length = std::min(length, kFrameBufferSize);
    out.resize(length);
    std::lock_guard lock(m_bufferLock);
    std::memcpy(out.data(), Buffer(kStill), length);
    if (sampleTime)
        *sampleTime = StillSampleTime.load();
    return length;
}

bool EngineState::ServeStillRequest(int camera, int width, int height, const uint8_t *data,
                                    size_t length, double sampleTime)
{
    return ServeStillRequest(camera, width, height, FrameRows::Packed(data, length, 0), sampleTime);
}

bool EngineState::ServeStillRequest(int camera, int width, int height, const FrameRows &frame,
                                    double sampleTime)
{
    const size_t length = std::min(frame.bytes, kFrameBufferSize);
    std::lock_guard lock(m_bufferLock);
    if (!SnapshotRequest.NamesLocked(camera))
        return false;
    frame.CopyTo(Buffer(kStill), length);
    StillSampleTime.store(sampleTime);
    m_still = { camera, SnapshotRequest.IsTimeLapse(), width, height, length, sampleTime };
    m_stillFresh = true;
    return true;
}

bool EngineState::TakeStillFrame(std::vector<uint8_t> &out, StillInfo &info)
{
    std::lock_guard lock(m_bufferLock);
    if (!m_stillFresh)
        return false;
    info = m_still;
    out.resize(info.Length);
    std::memcpy(out.data(), Buffer(kStill), info.Length);
    m_stillFresh = false;
    SnapshotRequest.AnsweredLocked(info.Camera, info.TimeLapse);
    return true;
}

ZoneMaskBytes EngineState::GetZoneMask(int camera, int zone) const
{
    ZoneMaskBytes out {};
    if (IsCamera(camera) && IsCamera(zone)) {
        for (int k = 0; k < kCells; ++k)
            out[k] = ZoneMask[camera][zone][k].load(std::memory_order_relaxed);
    }
    return out;
}

void EngineState::SetZoneMask(int camera, int zone, const ZoneMaskBytes &mask)
{
    if (!IsCamera(camera) || !IsCamera(zone))
        return;
    for (int k = 0; k < kCells; ++k)
        ZoneMask[camera][zone][k].store(mask[k], std::memory_order_relaxed);
}

ZoneMaskBytes EngineState::GetHitMap(int camera) const
{
    ZoneMaskBytes out {};
    if (IsCamera(camera)) {
        for (int k = 0; k < kCells; ++k)
            out[k] = HitMap[camera][k].load(std::memory_order_relaxed);
    }
    return out;
}

void EngineState::ClearHitMap(int camera)
{
    if (!IsCamera(camera))
        return;
    for (auto &cell : HitMap[camera])
        cell.store(0, std::memory_order_relaxed);
}

void EngineState::ClearHitMaps()
{
    for (int c = 1; c <= kMaxCameras; ++c)
        ClearHitMap(c);
}

void EngineState::PrimeForStart()
{
    for (int c = 1; c <= kMaxCameras; ++c) {
        VisitCount[c] = 10;
        Confirm[c] = 1;
        MotionEnabled[c] = SavedMotionEnabled[c].load();
    }
    SlowCounter = 12001;
    CalibratedZone = 5;
    SuppressCount = 10;
    CalibrationMode = 0;
    RecordCountdown = 0;
    CurrentCamera = 1;
    ReviewMode = 0;
    CycleCount = CameraCount.load();
    SelectedCamera = 0;
}

void EngineState::ResetOnStop()
{
    GateOpen = 0;
    for (int c = 1; c <= kMaxCameras; ++c)
        FreshFrame[c] = 1;
    if (const uint32_t saved = SavedSettleTime.exchange(0); saved != 0)
        SettleTime = saved;
    ClearHitMaps();
}

} // namespace vorlund
