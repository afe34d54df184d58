// The server's handle on a "vorlundaudio" element: the control methods the capture code calls,
// carried out through the element's properties. Times are nanoseconds.
#pragma once

#include "ElementControl.h"

namespace vorlund {

class IAviFilterControl;

class IAudioFilterControl : public ElementControl
{
public:
    // The identifiers the filter is known by (also the element's "class-id"/"control-id").
    static constexpr const char *kClassId = "{BE6E2E22-D931-4085-AE08-F47305953879}";
    static constexpr const char *kInterfaceId = "{752A74BC-80E7-45E8-A8E1-EB166C2F51B4}";
    static constexpr const char *kFactoryName = "vorlundaudio";

    IAudioFilterControl() = default;
    // Takes its own reference; stays empty when `element` is not a vorlundaudio.
    explicit IAudioFilterControl(GstElement *element) : ElementControl(element, kFactoryName) { }

    // Each setter returns false only when there is no element to control.
    bool SetGateOpen(long open) { return SetFlag("gate", open); }
    // As the picture gate's: the running time the next SetGateOpen applies from.
    bool SetGateTime(std::uint64_t runningTime) { return SetUint64("gate-time", runningTime); }
    // `avi` is the recording's video gate; the audio gate keeps its own timeline.
    bool SetRetiming(long on, IAviFilterControl *avi);
    // While the reference time is 0 the gate records the start of each buffer it drops.
    bool SetReferenceTime(std::int64_t t) { return SetInt64("reference-time", t); }
    // Start of the latest buffer dropped while the reference time was 0 (0 if none).
    std::int64_t GetStartTime() const { return GetInt64("start-time"); }
};

} // namespace vorlund
