// Checks recordings the way a strict player reads them (every size, chunk, index entry and
// header count must agree); prints one line per file and exits 0 when every file is sound.
//   avi_strict_check FILE...
#include "StrictAvi.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

int main(int argc, char **argv)
{
    int bad = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(argv[i], ec)) {
            std::printf("%s: no such file\n", argv[i]);
            ++bad;
            continue;
        }
        const mendrel::test::StrictResult r = mendrel::test::StrictCheck(argv[i]);
        std::printf("%s: video=%llu audio=%llu riffs=%llu problems=%zu%s%s\n", argv[i],
                    static_cast<unsigned long long>(r.videoChunks),
                    static_cast<unsigned long long>(r.audioChunks),
                    static_cast<unsigned long long>(r.riffs), r.problems.size(),
                    r.problems.empty() ? "" : " first: ",
                    r.problems.empty() ? "" : r.problems.front().c_str());
        bad += r.problems.empty() ? 0 : 1;
    }
    return argc < 2 ? 2 : (bad == 0 ? 0 : 1);
}
