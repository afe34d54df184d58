// The server's handle on a "vorlundavi" element: the control methods the capture code calls,
// carried out through the element's properties.
#pragma once

#include "ElementControl.h"

namespace vorlund {

class IAviFilterControl : public ElementControl
{
public:
    // The identifiers the filter is known by (also the element's "class-id"/"control-id").
    static constexpr const char *kClassId = "{31875B61-F6D2-475B-BFE7-9C5B003F3C4A}";
    static constexpr const char *kInterfaceId = "{3ACB3995-61B9-4913-8CF3-8373ED56BFB1}";
    static constexpr const char *kFactoryName = "vorlundavi";

    IAviFilterControl() = default;
    // Takes its own reference; stays empty when `element` is not a vorlundavi.
    explicit IAviFilterControl(GstElement *element) : ElementControl(element, kFactoryName) { }

    // Each setter returns false only when there is no element to control.
    bool SetGateOpen(long open);
    // The pipeline's running time from which the next SetGateOpen applies to captured frames
    // (GST_CLOCK_TIME_NONE: at once).
    bool SetGateTime(std::uint64_t runningTime) { return SetUint64("gate-time", runningTime); }
    bool SetStampEnabled(long on);
    bool SetStampAtTop(long top);
    bool SetAcceptInterleaved(long on);
    bool SetPassThrough(long on);
    // Start time in nanoseconds of the latest buffer seen while the gate was closed (0 if none).
    std::int64_t GetLastStartTime() const;
    bool RestoreGate(long value);
    bool SetHoldMode(long on);
    bool SetRequireVideoInfo(long on);
};

} // namespace vorlund
