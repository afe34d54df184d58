// Writes a working folder for the server benchmark: the test camera at 720x576, recording
// continuously to AVI with MPEG-4 V3, capture starting by itself.
#include "WorkingFolder.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WORKING-FOLDER\n", argv[0]);
        return 2;
    }
    const bool written = vorlund::bench::WriteWorkingFolder(argv[1], [](vorlund::DeviceConfig &c) {
        c.Block.CaptureWidth = 720;
        c.Block.CaptureHeight = 576;
        c.Block.RolloverOn = 0;
        c.RolloverMBytes = 100000;
        c.Block.RemoteEnabled = 0;
    });
    return written ? 0 : 1;
}
