// Writes a working folder for the remote-serving measurements: the test camera at 720x576
// recording continuously to AVI, remote viewing on, either on the direct link's port or over
// the relay with the given relay login (the profile then names the relay's web lookup).
#include "WorkingFolder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char **argv)
{
    const std::string mode = argc >= 3 ? argv[2] : "";
    if (argc < 4 || (mode != "manual" && mode != "relay") || (mode == "relay" && argc != 7)
        || (mode == "manual" && argc > 5)) {
        std::fprintf(stderr,
                     "usage: %s FOLDER manual PORT [VIEWER-PASSWORD]\n"
                     "       %s FOLDER relay LOOKUP-PORT LOGIN PASSWORD VIEWER-PASSWORD\n",
                     argv[0], argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[3]);
    const bool relay = mode == "relay";
    const bool written = vorlund::bench::WriteWorkingFolder(argv[1], [&](vorlund::DeviceConfig &c) {
        c.Block.CaptureWidth = 720;
        c.Block.CaptureHeight = 576;
        c.Block.RolloverOn = 0;
        c.RolloverMBytes = 100000;
        c.Block.RemoteEnabled = 1;
        c.RemoteMode = relay ? 0 : 1;
        if (relay) {
            c.RelayLogin = argv[4];
            c.RelayPassword = argv[5];
            c.RemotePassword = argv[6];
        } else {
            c.Block.RemotePort = port;
            if (argc == 5)
                c.RemotePassword = argv[4];
        }
    });
    if (!written)
        return 1;
    if (relay) {
        std::ofstream profile(std::string(argv[1]) + "/Vorlund.INI", std::ios::app);
        profile << "\n[Settings]\nRelayLookupHost=127.0.0.1\nRelayLookupPort=" << port << "\n";
        if (!profile)
            return 1;
    }
    return 0;
}
