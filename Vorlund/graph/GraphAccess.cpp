// What the capture graph offers the topics beyond building and running: the open device for
// the device pages, the encoders and the built encoder's settings for the codec chooser.
#include "CaptureGraph.h"
#include "Codecs.h"
#include "Crossbar.h"
#include "GraphUtils.h"

namespace vorlund {

bool GraphDeviceAccess::HasGraph() const
{
    return m_graph.Pipeline() != nullptr;
}

bool GraphDeviceAccess::OpenDeviceStage()
{
    // A device probe builds the device stage alone, its source at READY.
    m_graph.DeviceProbe = true;
    const int result = m_graph.Build();
    m_graph.DeviceProbe = false;
    return result >= 0 && HasGraph();
}

std::optional<int> GraphDeviceAccess::DeviceFd()
{
    return SourceDeviceFd(m_graph.Parts().m_pCapture.get());
}

CapsRef GraphDeviceAccess::OfferedCaps()
{
    GstElement *source = m_graph.Parts().m_pCapture.get();
    PadRef pad(source ? gst_element_get_static_pad(source, "src") : nullptr, RefMode::HasRef);
    return CapsRef(pad ? gst_pad_query_caps(pad.get(), nullptr) : nullptr, RefMode::HasRef);
}

CapsRef GraphDeviceAccess::NegotiatedCaps()
{
    return m_graph.IsBuilt() ? CapsOf(m_graph.Parts().m_pCaptureFormat.get()) : CapsRef();
}

std::optional<std::vector<std::string>> GraphDeviceAccess::ListAudioInputs(std::string_view device)
{
    return m_graph.ListAudioInputs(device);
}

void GraphDeviceAccess::ApplyAudioInput()
{
    m_graph.ApplyAudioInput();
}

std::vector<std::string> CaptureGraph::ListVideoCompressors()
{
    return ListCompressors(CodecKind::Video);
}

bool CaptureGraph::HasVideoEncoder() const
{
    return m_parts.m_pVideoCodec.get() != nullptr;
}

std::vector<CodecProperty> CaptureGraph::VideoCodecProperties()
{
    GstElement *encoder = m_parts.m_pVideoCodec.get();
    return encoder ? ListCodecProperties(encoder) : std::vector<CodecProperty>();
}

bool CaptureGraph::AcceptsVideoCodecValue(const std::string &name, const std::string &value)
{
    GstElement *encoder = m_parts.m_pVideoCodec.get();
    return encoder && AcceptsCodecValue(encoder, name, value);
}

void CaptureGraph::KeepVideoCodecChanges(const std::string &codecName,
                                         const std::vector<CodecProperty> &before,
                                         const std::vector<CodecProperty> &after)
{
    VideoCodecState = UpdateCodecState(VideoCodecState, codecName, before, after);
    if (GstElement *encoder = m_parts.m_pVideoCodec.get())
        ApplyCodecState(encoder, VideoCodecState, codecName);
}

} // namespace vorlund
