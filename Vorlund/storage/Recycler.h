#pragma once

#include "ServerContext.h"
#include "WorkerThread.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

namespace vorlund {

// True for the names the server gives its recordings: "v" MM-DD-YYYY-hhmm, an optional
// "-N", and ".avi", ".mp4" or ".wmv" in any case.
bool IsRecordingName(std::string_view name);

inline constexpr int kRecycleFileLimit = 10000;

struct RecycleRequest
{
    std::string folder;
    int64_t limitMBytes = 0;
    // Counted in the total, never deleted.
    std::filesystem::path currentRecording;
    // Called on the worker before each stop test between files (tests use it to stop a pass
    // at a known point).
    std::function<void(const WorkerControl &)> betweenFiles;
};

// One recycle pass: deletes the oldest recordings until the folder holds no more than the
// limit, never the newest one. Returns 0, or -1 with the error in the control's message.
int RecycleFiles(const RecycleRequest &request, const WorkerControl &control);

// The nightly recycler: one pass per date on its own worker, reporting WM_RECYCLE_DONE.
class CVideoRecycler final : public CWorkerThread, public IRecycler
{
public:
    explicit CVideoRecycler(ServerContext &context,
                            std::chrono::milliseconds stopWait = std::chrono::milliseconds(5000));
    ~CVideoRecycler() override;

    // Starts a pass unless one is running or one already ran today.
    void Start(const std::filesystem::path &folder, int64_t limitMBytes,
               const std::filesystem::path &currentRecording) override;

    // WM_RECYCLE_DONE at the view: the result balloon and the pass's report in the error log.
    void OnRecycleDone(uintptr_t result);

    void SetBetweenFilesHook(std::function<void(const WorkerControl &)> hook)
    {
        m_betweenFiles = std::move(hook);
    }

private:
    void OnAbandoned() override;

    ServerContext &m_context;
    int64_t m_passDate = -1; // year * 10000 + month * 100 + day of the last pass started
    std::function<void(const WorkerControl &)> m_betweenFiles;
};

} // namespace vorlund
