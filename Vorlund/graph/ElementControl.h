// What the server's handles on its own pipeline elements share: a reference to one element of a
// known factory, and control settings carried out through that element's properties.
#pragma once

#include "GstHandles.h"

#include <gst/gst.h>

#include <cstdint>

namespace vorlund {

class ElementControl
{
public:
    bool IsValid() const { return static_cast<bool>(m_element); }
    GstElement *Element() const { return m_element.get(); }

protected:
    ElementControl() = default;
    // Takes its own reference; stays empty when `element` was not made by `factoryName`.
    ElementControl(GstElement *element, const char *factoryName);

    // Each returns false only when there is no element to control.
    bool SetFlag(const char *property, long value);
    bool SetInt64(const char *property, std::int64_t value);
    bool SetUint64(const char *property, std::uint64_t value);
    // 0 when there is no element.
    std::int64_t GetInt64(const char *property) const;

private:
    ElementRef m_element;
};

} // namespace vorlund
