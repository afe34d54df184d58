#include "Codecs.h"

#include <array>

namespace vorlund {

namespace {

constexpr std::array kCodecs = {
    CodecEntry { kMpeg4V3CodecName, "avenc_msmpeg4", CodecKind::Video, "gstreamer1.0-libav" },
    CodecEntry { "Microsoft MPEG-4 Video Codec V2", "avenc_msmpeg4v2", CodecKind::Video,
                 "gstreamer1.0-libav" },
    CodecEntry { "DV Video Encoder", "avenc_dvvideo", CodecKind::Video, "gstreamer1.0-libav" },
    CodecEntry { "3ivx D4 Video Encoder", "x264enc", CodecKind::Video,
                 "gstreamer1.0-plugins-ugly" },
    CodecEntry { "MPEG Layer-3", "lamemp3enc", CodecKind::Audio, "gstreamer1.0-plugins-good" },
    CodecEntry { "3ivx D4 Audio Encoder", "avenc_aac", CodecKind::Audio, "gstreamer1.0-libav" },
};

} // namespace

std::span<const CodecEntry> CodecTable()
{
    return kCodecs;
}

const CodecEntry *FindCodec(std::string_view name)
{
    for (const CodecEntry &entry : kCodecs) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

bool FactoryInstalled(std::string_view factory)
{
    const std::string name(factory);
    GstRef<GstElementFactory> found(gst_element_factory_find(name.c_str()), RefMode::HasRef);
    return bool(found);
}

std::vector<std::string> ListCompressors(CodecKind kind, const InstalledPredicate &installed)
{
    std::vector<std::string> names;
    for (const CodecEntry &entry : kCodecs) {
        if (names.size() >= kMaxCodecNames)
            break;
        if (entry.kind == kind && installed(entry.factory))
            names.emplace_back(entry.name);
    }
    return names;
}

ElementRef BindCompressor(CodecKind kind, std::string_view codecName, const char *elementName)
{
    const CodecEntry *entry = FindCodec(codecName);
    if (!entry || entry->kind != kind)
        return {};
    const std::string factory(entry->factory);
    return ElementRef(gst_element_factory_make(factory.c_str(), elementName), RefMode::HasRef);
}

} // namespace vorlund
