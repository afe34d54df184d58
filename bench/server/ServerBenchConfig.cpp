// Writes a working folder for the server benchmark: the test camera at 720x576, recording
// continuously to AVI with MPEG-4 V3, capture starting by itself. With a camera count, several
// cameras on the card's inputs with remote viewing (the test camera shows on each), for looking
// at the viewer's quadrants.
#include "WorkingFolder.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s WORKING-FOLDER [CAMERAS]\n", argv[0]);
        return 2;
    }
    const int cameras = argc == 3 ? std::atoi(argv[2]) : 1;
    const bool written
        = vorlund::bench::WriteWorkingFolder(argv[1], [cameras](vorlund::DeviceConfig &c) {
              c.Block.CaptureWidth = 720;
              c.Block.CaptureHeight = 576;
              c.Block.RolloverOn = 0;
              c.RolloverMBytes = 100000;
              c.Block.RemoteEnabled = 0;
              if (cameras > 1) {
                  c.Block.CameraCount = cameras;
                  c.SwitchType = 1;
                  c.ContinuousRecord = 0;
                  c.Block.CaptureWidth = 320;
                  c.Block.CaptureHeight = 240;
                  c.Block.RemoteEnabled = 1;
              }
          });
    return written ? 0 : 1;
}
