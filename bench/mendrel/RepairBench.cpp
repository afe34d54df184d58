// Repair of a 2 GB avimux recording killed in its second RIFF (raw video and MP3 audio), beside
// reading the file once with cat and, when it is installed, remuxing it with ffmpeg -c copy.
// Warm cache, median of 5; the damaged bytes are put back between runs from an undo journal.
//   mendrel_bench [--benchmark_...]      (folder: $MENDREL_BENCH_DIR, else /var/tmp)
#include "AviRepair.h"
#include "UndoJournal.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kDamagedBytes = uint64_t(2) << 30;

fs::path g_dir;
fs::path g_damaged;
fs::path g_good;
fs::path g_restore; // journal that puts the damaged bytes back

bool Record(const fs::path &path, uint64_t killAt, int frames)
{
    const std::string cmd = "exec gst-launch-1.0 -q videotestsrc pattern=ball num-buffers="
        + std::to_string(frames) + " ! video/x-raw,format=BGR,width=720,height=576,framerate=25/1"
        + " ! avimux name=m ! filesink location=" + path.string() + " audiotestsrc num-buffers="
        + std::to_string(frames * 2) + " ! audioconvert ! lamemp3enc ! m. >/dev/null 2>&1";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    if (killAt != 0) {
        for (;;) {
            std::error_code ec;
            if (fs::file_size(path, ec) >= killAt && !ec) {
                ::kill(pid, SIGKILL);
                break;
            }
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ::waitpid(pid, &status, 0);
    return true;
}

// Saves what the repair will change, so each run starts from the same damaged file.
bool SaveRestorePoint()
{
    const int fd = ::open(g_damaged.c_str(), O_RDWR);
    const int gfd = ::open(g_good.c_str(), O_RDONLY);
    mendrel::FileSource d(fd, fs::file_size(g_damaged));
    mendrel::FileSource g(gfd, fs::file_size(g_good));
    const mendrel::RepairPlan plan = mendrel::PlanRepair(d, g, nullptr);
    const bool ok = plan.status == mendrel::PlanStatus::Ok
        && mendrel::UndoJournal(g_restore.string()).Save(fd, plan) == 0;
    ::close(fd);
    ::close(gfd);
    return ok;
}

void Restore()
{
    // PlayBack deletes the journal; keep a copy for the next run.
    fs::copy_file(g_restore, g_restore.string() + ".next", fs::copy_options::overwrite_existing);
    const int fd = ::open(g_damaged.c_str(), O_RDWR);
    mendrel::UndoJournal(g_restore.string()).PlayBack(fd);
    ::close(fd);
    fs::rename(g_restore.string() + ".next", g_restore);
}

void BM_Repair(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        Restore();
        state.ResumeTiming();
        const mendrel::RepairOutcome out = mendrel::RepairAviFile(g_damaged, g_good, nullptr);
        if (out.status != mendrel::RepairStatus::Repaired)
            state.SkipWithError(out.message.c_str());
    }
}

void BM_CatOnce(benchmark::State &state)
{
    const std::string cmd = "cat " + g_damaged.string() + " > /dev/null";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("cat failed");
    }
}

void BM_FfmpegCopy(benchmark::State &state)
{
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
        state.SkipWithError("ffmpeg is not installed");
        for (auto _ : state) { }
        return;
    }
    const fs::path out = g_dir / "mendrel-bench-remux.avi";
    for (auto _ : state) {
        state.PauseTiming();
        Restore();
        state.ResumeTiming();
        const std::string cmd
            = "ffmpeg -loglevel quiet -y -i " + g_damaged.string() + " -c copy " + out.string();
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("ffmpeg failed");
    }
    fs::remove(out);
}

// Keeps the medians so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median"
                && !r.error_occurred)
                medians[r.run_name.function_name] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

} // namespace

BENCHMARK(BM_Repair)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CatOnce)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegCopy)
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    const char *dir = std::getenv("MENDREL_BENCH_DIR");
    g_dir = dir ? dir : "/var/tmp";
    g_damaged = g_dir / "mendrel-bench-damaged.avi";
    g_good = g_dir / "mendrel-bench-good.avi";
    g_restore = g_dir / "mendrel-bench-restore";
    std::fprintf(stderr, "recording a 2 GB damaged file in %s ...\n", g_dir.c_str());
    if (!Record(g_good, 0, 20) || !Record(g_damaged, kDamagedBytes, 100000)
        || !SaveRestorePoint()) {
        std::fprintf(stderr, "could not make the test recordings\n");
        return 1;
    }
    std::system(("cat " + g_damaged.string() + " > /dev/null").c_str()); // warm the cache
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double repair = reporter.medians["BM_Repair"];
    const double cat = reporter.medians["BM_CatOnce"];
    if (cat > 0)
        std::printf("repair / read once: %.3f (goal: at most 1.5)\n", repair / cat);
    if (reporter.medians.count("BM_FfmpegCopy") && repair > 0)
        std::printf("remux / repair: %.1f (goal: at least 3)\n",
                    reporter.medians["BM_FfmpegCopy"] / repair);
    for (const fs::path &p : { g_damaged, g_good, g_restore })
        fs::remove(p);
    return 0;
}
