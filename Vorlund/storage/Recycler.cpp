#include "Recycler.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace vorlund {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool Digits(std::string_view s, size_t from, size_t count)
{
    if (s.size() < from + count)
        return false;
    for (size_t i = from; i < from + count; ++i) {
        if (!IsDigit(s[i]))
            return false;
    }
    return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != b[i])
            return false;
    }
    return true;
}

std::string ErrorText(int error)
{
    return std::to_string(error) + " (" + std::generic_category().message(error) + ")";
}

struct FileRecord
{
    std::string name;
    int64_t size = 0;
    int64_t modified = 0; // ns since the epoch
    bool current = false;
};

// Closes the folder listing on every way out.
struct DirCloser
{
    void operator()(DIR *d) const { closedir(d); }
};

int Fail(const WorkerControl &control, const std::string &text)
{
    control.SetMessage(text);
    return -1;
}

std::string TrimFolder(std::string folder)
{
    while (folder.size() > 1
           && (folder.back() == ' ' || folder.back() == '?' || folder.back() == ':'
               || folder.back() == '*' || folder.back() == '/'))
        folder.pop_back();
    return folder;
}

} // namespace

bool IsRecordingName(std::string_view name)
{
    // v MM - DD - YYYY - hhmm
    if (name.size() < 17 || name[0] != 'v' || !Digits(name, 1, 2) || name[3] != '-'
        || !Digits(name, 4, 2) || name[6] != '-' || !Digits(name, 7, 4) || name[11] != '-'
        || !Digits(name, 12, 4))
        return false;
    size_t at = 16;
    if (name[at] == '-') {
        const size_t first = ++at;
        while (at < name.size() && IsDigit(name[at]))
            ++at;
        if (at == first)
            return false;
    }
    const std::string_view extension = name.substr(at);
    return EqualsIgnoreCase(extension, ".avi") || EqualsIgnoreCase(extension, ".mp4")
        || EqualsIgnoreCase(extension, ".wmv");
}

int RecycleFiles(const RecycleRequest &request, const WorkerControl &control)
{
    static const std::string kAbort = "abort signaled\n";
    const auto between = [&] {
        if (request.betweenFiles)
            request.betweenFiles(control);
        return control.StopRequested();
    };

    if (request.folder.empty())
        return Fail(control, "no video path specified.\n");
    const std::string folder = TrimFolder(request.folder);

    struct stat current
    {
    };
    const bool haveCurrent = !request.currentRecording.empty()
        && ::stat(request.currentRecording.c_str(), &current) == 0;

    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        return Fail(control, "RecycleFiles: invalid file handle: error " + ErrorText(errno) + "\n");

    std::vector<FileRecord> files;
    int64_t total = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                return Fail(control, "RecycleFiles error. Error is " + ErrorText(errno) + "\n");
            break;
        }
        if (!IsRecordingName(entry->d_name))
            continue;
        struct stat info
        {
        };
        // Links are not followed: only regular files in this folder count.
        if (::fstatat(dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(info.st_mode))
            continue;
        if (!files.empty() && between())
            return Fail(control, kAbort);
        if (files.size() + 1 >= size_t(kRecycleFileLimit))
            return Fail(control, "too many video files to recycle (10000 limit)\n");
        FileRecord record;
        record.name = entry->d_name;
        record.size = int64_t(info.st_size);
        record.modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        record.current
            = haveCurrent && info.st_dev == current.st_dev && info.st_ino == current.st_ino;
        total += record.size;
        files.push_back(std::move(record));
    }
    dir.reset();

    if (files.size() < 2)
        return Fail(control, "too few video files to recycle.\n");

    if (between())
        return Fail(control, kAbort);
    std::stable_sort(files.begin(), files.end(), [](const FileRecord &a, const FileRecord &b) {
        return a.modified < b.modified;
    });

    if (request.limitMBytes < 1)
        return Fail(control, "RecycleFiles: video sizeLimit too small or negative.\n");
    constexpr int64_t kMByte = 1000000;
    const int64_t limitBytes = request.limitMBytes > std::numeric_limits<int64_t>::max() / kMByte
        ? std::numeric_limits<int64_t>::max()
        : request.limitMBytes * kMByte;

    int64_t remaining = total;
    int deleted = 0;
    // The newest file is never deleted, nor the one being recorded.
    for (size_t i = 0; i + 1 < files.size() && remaining > limitBytes; ++i) {
        if (files[i].current)
            continue;
        if (between())
            return Fail(control, kAbort);
        const std::string path = folder + "/" + files[i].name;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return Fail(control, "RecycleFiles: deleteFile error: " + ErrorText(errno) + "\n");
        remaining -= files[i].size;
        ++deleted;
    }

    char report[160];
    std::snprintf(report, sizeof report,
                  "Video File Recycle: %d files. total size = %" PRId64 ". %d to delete.",
                  int(files.size()), total, deleted);
    control.AppendMessage(report);
    return 0;
}

CVideoRecycler::CVideoRecycler(ServerContext &context, std::chrono::milliseconds stopWait)
    : CWorkerThread(&context.sink, WM_RECYCLE_DONE, stopWait), m_context(context)
{ }

CVideoRecycler::~CVideoRecycler()
{
    Stop();
}

void CVideoRecycler::Start(const std::filesystem::path &folder, int64_t limitMBytes,
                           const std::filesystem::path &currentRecording)
{
    // The trigger fires on every slow pass of its minutes: one pass a night is enough.
    if (IsRunning())
        return;
    const LocalDateTime now = m_context.clock.Now();
    const int64_t date = int64_t(now.year) * 10000 + now.month * 100 + now.day;
    if (date == m_passDate)
        return;

    RecycleRequest request;
    request.folder = folder.string();
    request.limitMBytes = limitMBytes;
    request.currentRecording = currentRecording;
    request.betweenFiles = m_betweenFiles;
    SetMessage("");
    if (StartRoutine([request = std::move(request)](const WorkerControl &control) {
            return RecycleFiles(request, control);
        }))
        m_passDate = date;
}

void CVideoRecycler::OnAbandoned()
{
    // No WM_RECYCLE_DONE will carry this one to the log.
    m_context.log.AppendErrorLog(Message());
}

void CVideoRecycler::OnRecycleDone(uintptr_t result)
{
    BalloonRequest balloon;
    balloon.title = "Video File Recycle";
    balloon.text = result == 0 ? " Successful.\n" : " Errors, see Error Log for details.\n";
    m_context.shell.ShowBalloon(balloon);
    m_context.log.AppendErrorLog(Message());
}

} // namespace vorlund
