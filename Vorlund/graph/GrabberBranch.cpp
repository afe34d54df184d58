#include "GrabberBranch.h"

#include "CaptureFormat.h"
#include "GrabberSink.h"
#include "GraphMessages.h"
#include "GraphUtils.h"
#include "MotionGrabber.h"

#include <vector>

namespace vorlund {

int BuildGrabberBranch(const GraphBuild &build, GrabberSink &grabberSink, CMotionGrabber &grabber)
{
    GraphParts &parts = build.parts;
    // The detector runs on the source's streaming thread, while the frame it reads is still in
    // that core's cache: a queue's thread of its own would read it cold from another core, and
    // at one frame at a time it never faces a backlog. The DV branch keeps its queue for the
    // demuxer.
    ElementRef tail = parts.m_pTee;
    if (parts.kind == SourceKind::Dv) {
        tail = build.Add("queue", "Grabber Queue");
        if (!tail || !Link(parts.m_pTee.get(), tail.get())) {
            build.ErrBox(kGrabberText);
            return kGraphFailed;
        }
        gst_util_set_object_arg(G_OBJECT(tail.get()), "leaky", "downstream");
        g_object_set(tail.get(), "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time",
                     guint64(0), nullptr);
    }
    std::vector<ElementRef> chain;
    if (parts.kind == SourceKind::Yuy2) {
        ElementRef colorSpace
            = build.Add(IColorSpaceFilterControl::kFactoryName, names::kColorSpace);
        if (colorSpace) {
            parts.m_pColorSpace = IColorSpaceFilterControl(colorSpace.get());
            chain.push_back(colorSpace);
        } else {
            build.context.log.AppendErrorLog("VorlundColorSpace filter not found");
        }
    } else if (parts.kind == SourceKind::Dv) {
        ElementRef decoder = build.Add("dvdec", names::kDvDecoder2);
        if (!decoder) {
            build.Box("Could not create DV Decoder2.");
            return kGraphFailed;
        }
        ElementRef splitter = build.Add("dvdemux", names::kDvSplitter2);
        if (!splitter) {
            build.Box("Could not create DV Splitter2.");
            return kGraphFailed;
        }
        if (!Link(tail.get(), splitter.get())) {
            build.Box("Could not connect DV splitter2. (Stage3)\r\n");
            return kGraphFailed;
        }
        ElementRef head = build.Add("queue", "DV Grabber Queue");
        ElementRef rate = build.Add("videorate", "DV Grabber Rate");
        ElementRef format = build.Add("capsfilter", "DV Grabber Rate Format");
        if (!head || !rate || !format) {
            build.ErrBox(kGrabberText);
            return kGraphFailed;
        }
        const CapsRef fixed = CapsOf(parts.m_pCaptureFormat.get());
        CapsRef caps(gst_caps_new_empty_simple("video/x-raw"), RefMode::HasRef);
        const FrameRate half = DvFrameRate(gst_caps_get_structure(fixed.get(), 0), true);
        gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, half.num, half.den,
                            nullptr);
        g_object_set(format.get(), "caps", caps.get(), nullptr);
        ConnectPadLinks(splitter.get(), new PadLinks { head, {}, {}, {} });
        parts.dvGrabberHead = head;
        tail = head;
        chain.insert(chain.end(), { decoder, rate, format });
    }
    for (const char *factory : { "videoscale", "videoconvert" }) {
        ElementRef element = build.Add(factory, nullptr);
        if (!element) {
            build.ErrBox(kGrabberText);
            return kGraphFailed;
        }
        chain.push_back(element);
    }
    ElementRef format = build.Add("capsfilter", "Grabber Format");
    ElementRef sink = grabberSink.CreateAppSink(names::kGrabber);
    if (!format || !sink || !gst_bin_add(build.Bin(), sink.get())) {
        build.ErrBox(kGrabberText);
        return kGraphFailed;
    }
    g_object_set(format.get(), "caps", RawCaps("BGR", parts.grabberSize).get(), nullptr);
    chain.push_back(format);
    chain.push_back(sink);
    for (const ElementRef &next : chain) {
        if (!Link(tail.get(), next.get())) {
            build.ErrBox(kGrabberText);
            return kGraphFailed;
        }
        tail = next;
    }
    parts.m_pGrabber = sink;
    grabber.SetFormat(parts.grabberSize.width, parts.grabberSize.height, 0);
    return kGraphOk;
}

} // namespace vorlund
