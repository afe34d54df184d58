// The server's handle on a "vorlundcolorspace" element. Its settings are kept by the element and
// change nothing in the conversion.
#pragma once

#include "ElementControl.h"

namespace vorlund {

class IColorSpaceFilterControl : public ElementControl
{
public:
    // The identifiers the filter is known by (also the element's "class-id"/"control-id").
    static constexpr const char *kClassId = "{9EC0E775-C9C7-478F-B591-A0145B326CDC}";
    static constexpr const char *kInterfaceId = "{A65F5A9E-7DC6-4C85-8C28-6707A1F898B0}";
    static constexpr const char *kFactoryName = "vorlundcolorspace";

    IColorSpaceFilterControl() = default;
    // Takes its own reference; stays empty when `element` is not a vorlundcolorspace.
    explicit IColorSpaceFilterControl(GstElement *element) : ElementControl(element, kFactoryName)
    { }

    // Each returns false only when there is no element to control.
    bool SetGateOpen(long open) { return SetFlag("gate", open); }
    bool SetStampEnabled(long on) { return SetFlag("stamp", on); }
};

} // namespace vorlund
