#include "AviFilterControl.h"

#include <cstring>
#include <utility>

namespace vorlund {

namespace {

bool IsAviElement(GstElement *element)
{
    if (!element || !GST_IS_ELEMENT(element))
        return false;
    GstElementFactory *factory = gst_element_get_factory(element);
    return factory
        && std::strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)),
                       IAviFilterControl::kFactoryName)
        == 0;
}

} // namespace

IAviFilterControl::IAviFilterControl(GstElement *element)
{
    if (IsAviElement(element))
        m_element = GST_ELEMENT(gst_object_ref(element));
}

IAviFilterControl::~IAviFilterControl()
{
    if (m_element)
        gst_object_unref(m_element);
}

IAviFilterControl::IAviFilterControl(IAviFilterControl &&other) noexcept
    : m_element(std::exchange(other.m_element, nullptr))
{ }

IAviFilterControl &IAviFilterControl::operator=(IAviFilterControl &&other) noexcept
{
    if (this != &other) {
        if (m_element)
            gst_object_unref(m_element);
        m_element = std::exchange(other.m_element, nullptr);
    }
    return *this;
}

bool IAviFilterControl::SetFlag(const char *property, long value)
{
    if (!m_element)
        return false;
    g_object_set(m_element, property, gboolean(value != 0), nullptr);
    return true;
}

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
    if (!m_element)
        return 0;
    gint64 start = 0;
    g_object_get(m_element, "last-start-time", &start, nullptr);
    return start;
}

bool IAviFilterControl::RestoreGate(long value)
{
    if (!m_element)
        return false;
    g_signal_emit_by_name(m_element, "restore-gate", gint(value));
    return true;
}

} // namespace vorlund
