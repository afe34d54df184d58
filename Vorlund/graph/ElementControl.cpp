#include "ElementControl.h"

#include <cstring>

namespace vorlund {

namespace {

bool MadeBy(GstElement *element, const char *factoryName)
{
    if (!element || !GST_IS_ELEMENT(element) || !factoryName)
        return false;
    GstElementFactory *factory = gst_element_get_factory(element);
    return factory
        && std::strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), factoryName) == 0;
}

} // namespace

ElementControl::ElementControl(GstElement *element, const char *factoryName)
{
    if (MadeBy(element, factoryName))
        m_element = ElementRef(element, RefMode::NeedsRef);
}

bool ElementControl::SetFlag(const char *property, long value)
{
    if (!m_element)
        return false;
    g_object_set(m_element.get(), property, gboolean(value != 0), nullptr);
    return true;
}

bool ElementControl::SetInt64(const char *property, std::int64_t value)
{
    if (!m_element)
        return false;
    g_object_set(m_element.get(), property, gint64(value), nullptr);
    return true;
}

bool ElementControl::SetUint64(const char *property, std::uint64_t value)
{
    if (!m_element)
        return false;
    g_object_set(m_element.get(), property, guint64(value), nullptr);
    return true;
}

std::int64_t ElementControl::GetInt64(const char *property) const
{
    if (!m_element)
        return 0;
    gint64 value = 0;
    g_object_get(m_element.get(), property, &value, nullptr);
    return value;
}

} // namespace vorlund
