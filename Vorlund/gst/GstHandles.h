#pragma once

#include <gst/gst.h>

#include <string>
#include <utility>

namespace vorlund {

// How a handle gets its reference: HasRef adopts one the caller already owns (transfer full;
// a floating reference is sunk), NeedsRef takes a new one (transfer none).
enum class RefMode { HasRef, NeedsRef };

template <typename T> struct GstRefTraits
{
    // GstObject and its subclasses (elements, pads, bins, buses, devices, monitors).
    static void Ref(T *p) { gst_object_ref(p); }
    static void Unref(T *p) { gst_object_unref(p); }
    static void Adopt(T *p)
    {
        if (g_object_is_floating(p))
            gst_object_ref_sink(p);
    }
};

template <> struct GstRefTraits<GstCaps>
{
    static void Ref(GstCaps *p) { gst_caps_ref(p); }
    static void Unref(GstCaps *p) { gst_caps_unref(p); }
    static void Adopt(GstCaps *) { }
};

template <> struct GstRefTraits<GstMessage>
{
    static void Ref(GstMessage *p) { gst_message_ref(p); }
    static void Unref(GstMessage *p) { gst_message_unref(p); }
    static void Adopt(GstMessage *) { }
};

template <> struct GstRefTraits<GstSample>
{
    static void Ref(GstSample *p) { gst_sample_ref(p); }
    static void Unref(GstSample *p) { gst_sample_unref(p); }
    static void Adopt(GstSample *) { }
};

// One counted reference to a GStreamer object, released when the handle goes.
template <typename T> class GstRef
{
public:
    GstRef() = default;
    GstRef(T *p, RefMode mode) : m_p(p)
    {
        if (!m_p)
            return;
        if (mode == RefMode::HasRef)
            GstRefTraits<T>::Adopt(m_p);
        else
            GstRefTraits<T>::Ref(m_p);
    }
    ~GstRef() { reset(); }

    GstRef(const GstRef &other) : m_p(other.m_p)
    {
        if (m_p)
            GstRefTraits<T>::Ref(m_p);
    }
    GstRef(GstRef &&other) noexcept : m_p(std::exchange(other.m_p, nullptr)) { }
    GstRef &operator=(GstRef other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }

    void reset()
    {
        if (m_p)
            GstRefTraits<T>::Unref(std::exchange(m_p, nullptr));
    }
    // Hands the reference to the caller.
    T *release() { return std::exchange(m_p, nullptr); }

    T *get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T *m_p = nullptr;
};

using ElementRef = GstRef<GstElement>;
using PadRef = GstRef<GstPad>;
using BusRef = GstRef<GstBus>;
using ClockRef = GstRef<GstClock>;
using DeviceRef = GstRef<GstDevice>;
using CapsRef = GstRef<GstCaps>;
using MessageRef = GstRef<GstMessage>;
using SampleRef = GstRef<GstSample>;

// A string GLib allocated, returned as std::string (empty for null).
inline std::string TakeGString(gchar *s)
{
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

} // namespace vorlund
