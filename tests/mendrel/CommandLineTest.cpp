// `Mendrel --repair DAMAGED GOOD` for scripts: status lines on stdout and an exit code.
#include "AviTestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

namespace mendrel::test {
namespace {

struct Result
{
    int exit = -1;
    std::string out;
};

Result RunMendrel(const std::string &args)
{
    Result r;
    const std::string command = std::string(MENDREL_BINARY) + " " + args + " 2>/dev/null";
    FILE *pipe = ::popen(command.c_str(), "r");
    char buf[256];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST(MendrelCommandLine, RepairsAndReportsByExitCode)
{
    TempFolder tmp;
    WriteFixedFile(tmp / "good.avi", FixedSpec { .frames = 30 });
    WriteFixedFile(tmp / "damaged.avi", { .frames = 12, .finishedSegments = 0, .finished = false });
    WriteAll(tmp / "text.avi", std::vector<uint8_t>(70000, 'x'));
    WriteFixedFile(tmp / "twice.avi", FramesIndexedTwice());
    const std::string dir = tmp.Path().string() + "/";
    const struct
    {
        std::string args;
        int exit;
        std::string out;
    } cases[] = {
        // The extension is added to a name without one.
        { "--repair " + dir + "damaged " + dir + "good", 0,
          "Ready.\nWorking.\nBuilding frame index...\nframes = 12\nFinished.\n" },
        { "--repair " + dir + "text.avi " + dir + "good.avi", 1, "Ready.\nWorking.\nFinished.\n" },
        // A plan that would index a frame twice is not written.
        { "--repair " + dir + "twice.avi " + dir + "good.avi", 1,
          "Ready.\nWorking.\nBuilding frame index...\nFinished.\n" },
        { "--repair " + dir + "missing.avi " + dir + "good.avi", 1, "Ready.\n" },
        { "--repair " + dir + "damaged.avi", 2, "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = RunMendrel(c.args);
        EXPECT_EQ(r.exit, c.exit);
        EXPECT_EQ(r.out, c.out);
    }
}

} // namespace
} // namespace mendrel::test
