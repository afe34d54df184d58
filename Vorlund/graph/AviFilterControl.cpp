#include "AviFilterControl.h"

namespace vorlund {

bool IAviFilterControl::SetGateOpen(long open)
{
    return SetFlag("gate", open);
}
bool IAviFilterControl::SetStampEnabled(long on)
{
    return SetFlag("stamp", on);
}
bool IAviFilterControl::SetStampAtTop(long top)
{
    return SetFlag("stamp-at-top", top);
}
bool IAviFilterControl::SetAcceptInterleaved(long on)
{
    return SetFlag("accept-interleaved", on);
}
bool IAviFilterControl::SetPassThrough(long on)
{
    return SetFlag("pass-through", on);
}
bool IAviFilterControl::SetHoldMode(long on)
{
    return SetFlag("hold-mode", on);
}
bool IAviFilterControl::SetRequireVideoInfo(long on)
{
    return SetFlag("require-video-info", on);
}

std::int64_t IAviFilterControl::GetLastStartTime() const
{
    return GetInt64("last-start-time");
}

bool IAviFilterControl::RestoreGate(long value)
{
    if (!IsValid())
        return false;
    g_signal_emit_by_name(Element(), "restore-gate", gint(value));
    return true;
}

} // namespace vorlund
