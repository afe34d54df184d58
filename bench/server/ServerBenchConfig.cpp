// Writes a working folder for the server benchmark: the test camera at 720x576, recording
// continuously to AVI with MPEG-4 V3, capture starting by itself. The case chooses what else
// runs: "record" records only (no detection, so no snapshots), "detect" records with motion
// detection and snapshots on, "four" records four cameras switched on the card's inputs, at the
// same size and in the same mode. A camera count instead of a case (2..4) writes the folder
// for looking at the viewer's quadrants: remote viewing on, 320x240, recording on motion.
// With --encoder it prints instead the recording encoder's settings that differ from the
// element's defaults, as gst-launch-1.0 properties, for the bare pipeline to use the same.
#include "Encoders.h"
#include "WorkingFolder.h"

#include <gst/gst.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Adjust(vorlund::DeviceConfig &c, const std::string &mode)
{
    c.Block.CaptureWidth = 720;
    c.Block.CaptureHeight = 576;
    c.Block.RolloverOn = 0;
    c.RolloverMBytes = 100000;
    c.Block.RemoteEnabled = 0;
    if (mode == "record")
        c.Block.MotionEnabled.fill(0);
    if (mode == "four") {
        c.Block.CameraCount = 4;
        c.SwitchType = 1;
    }
    if (const int cameras = std::atoi(mode.c_str()); cameras > 1) {
        c.Block.CameraCount = cameras;
        c.SwitchType = 1;
        c.ContinuousRecord = 0;
        c.Block.CaptureWidth = 320;
        c.Block.CaptureHeight = 240;
        c.Block.RemoteEnabled = 1;
    }
}

// The encoder the server builds for this folder, configured as the server configures it.
int PrintEncoder(const std::string &folder, const std::string &mode)
{
    gst_init(nullptr, nullptr);
    const vorlund::DeviceConfig config = vorlund::bench::WorkingFolderConfig(
        folder, [&mode](vorlund::DeviceConfig &c) { Adjust(c, mode); });
    GstElement *encoder = gst_element_factory_make("avenc_msmpeg4", nullptr);
    if (!encoder) {
        std::fprintf(stderr, "avenc_msmpeg4 is not installed\n");
        return 1;
    }
    gst_object_ref_sink(encoder);
    const vorlund::FrameRate rate { int(10'000'000 / config.FrameDuration), 1 };
    vorlund::ConfigureVideoEncoder(encoder, vorlund::RecordingFormat::Avi,
                                   vorlund::MakeEncoderParams(config, 0), config.Block.CaptureWidth,
                                   config.Block.CaptureHeight, rate);
    guint count = 0;
    GParamSpec **specs = g_object_class_list_properties(G_OBJECT_GET_CLASS(encoder), &count);
    for (guint i = 0; i < count; ++i) {
        GParamSpec *spec = specs[i];
        if (!(spec->flags & G_PARAM_WRITABLE) || !(spec->flags & G_PARAM_READABLE)
            || std::strcmp(spec->name, "name") == 0 || std::strcmp(spec->name, "parent") == 0)
            continue;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, spec->value_type);
        g_object_get_property(G_OBJECT(encoder), spec->name, &value);
        if (!g_param_value_defaults(spec, &value)) {
            gchar *text = gst_value_serialize(&value);
            if (text)
                std::printf(" %s=%s", spec->name, text);
            g_free(text);
        }
        g_value_unset(&value);
    }
    std::printf("\n");
    g_free(specs);
    gst_object_unref(encoder);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool encoder = argc > 1 && std::strcmp(argv[1], "--encoder") == 0;
    const int first = encoder ? 2 : 1;
    if (argc - first != 1 && argc - first != 2) {
        std::fprintf(stderr, "usage: %s [--encoder] WORKING-FOLDER [record|detect|four|CAMERAS]\n",
                     argv[0]);
        return 2;
    }
    const std::string folder = argv[first];
    const std::string mode = argc - first == 2 ? argv[first + 1] : "detect";
    if (encoder)
        return PrintEncoder(folder, mode);
    const bool written = vorlund::bench::WriteWorkingFolder(
        folder, [&mode](vorlund::DeviceConfig &c) { Adjust(c, mode); });
    return written ? 0 : 1;
}
