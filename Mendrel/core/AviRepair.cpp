#include "AviRepair.h"

#include "AviHeader.h"
#include "AviWalk.h"
#include "PosixIo.h"
#include "UndoJournal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mendrel {

namespace {

// An open file held under an exclusive lock, so nobody records into it or repairs it at once.
class LockedFile
{
public:
    LockedFile(const std::string &path, int flags, bool lock = true)
    {
        m_fd = ::open(path.c_str(), flags | O_CLOEXEC);
        if (m_fd < 0)
            return;
        struct stat st
        {
        };
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)
            || (lock && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_size = uint64_t(st.st_size);
    }
    ~LockedFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    uint64_t Size() const { return m_size; }
    bool Restat()
    {
        struct stat st
        {
        };
        if (::fstat(m_fd, &st) != 0)
            return false;
        m_size = uint64_t(st.st_size);
        return true;
    }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

bool IsNoSpace(int error)
{
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

RepairOutcome Outcome(RepairStatus status, std::string_view message)
{
    RepairOutcome out;
    out.status = status;
    out.message = std::string(message);
    return out;
}

RepairOutcome FromPlan(const RepairPlan &plan)
{
    switch (plan.status) {
    case PlanStatus::Ok:
        break;
    case PlanStatus::NoVideo:
        return Outcome(RepairStatus::NoVideo, kNoVideo);
    case PlanStatus::NotRepairable:
        return Outcome(RepairStatus::NotRepairable, kNotRepairable);
    case PlanStatus::WrongGoodFile:
        return Outcome(RepairStatus::WrongGoodFile, kWrongGoodFile);
    case PlanStatus::TooManyIndexes:
        return Outcome(RepairStatus::TooManyIndexes, kTooManyIndexes);
    case PlanStatus::IndexMismatch:
        return Outcome(RepairStatus::IndexMismatch, kIndexMismatch);
    case PlanStatus::ReadError:
        return Outcome(RepairStatus::FileError, kFileError);
    }
    return Outcome(RepairStatus::Repaired, "");
}

RepairOutcome FileError(int error)
{
    if (IsNoSpace(error))
        return Outcome(RepairStatus::NoSpace, kNoSpace);
    RepairOutcome out = Outcome(RepairStatus::FileError, kFileError);
    if (error != 0) {
        out.message += "\n";
        out.message += std::strerror(error);
    }
    return out;
}

// Writes the plan: originals kept (and the undo file where the folder takes it), space reserved,
// patches in the plan's order, flush, undo file gone. On a failure the file is put back as it was.
RepairOutcome Apply(LockedFile &file, UndoJournal &journal, const RepairPlan &plan,
                    const AfterWriteFn &afterWrite)
{
    if (plan.patches.empty())
        return Outcome(RepairStatus::Repaired, "");
    if (const int rc = journal.Keep(file.Fd(), plan); rc != 0)
        return FileError(rc);
    int error = 0;
    if (plan.newSize > plan.oldSize) {
        // Reserved without growing: a longer file would let the cut-off chunk fit.
        if (::fallocate(file.Fd(), FALLOC_FL_KEEP_SIZE, off_t(plan.oldSize),
                        off_t(plan.newSize - plan.oldSize))
                != 0
            && errno != EOPNOTSUPP && errno != ENOSYS)
            error = errno;
    }
    bool grown = false;
    for (size_t i = 0; error == 0 && i < plan.patches.size(); ++i) {
        const Patch &patch = plan.patches[i];
        // Without an undo file the bytes inside the old file must be down before it grows.
        if (!grown && patch.offset + patch.bytes.size() > plan.oldSize) {
            grown = true;
            if (!journal.OnDisk() && ::fdatasync(file.Fd()) != 0) {
                error = errno;
                break;
            }
        }
        if (!PWriteAll(file.Fd(), patch.bytes.data(), patch.bytes.size(), patch.offset)) {
            error = errno != 0 ? errno : EIO;
            break;
        }
        if (afterWrite)
            afterWrite(i);
    }
    if (error == 0 && ::fsync(file.Fd()) != 0)
        error = errno;
    if (error != 0) {
        if (!journal.Undo(file.Fd()))
            return Outcome(RepairStatus::FileError, kFileErrorUnfinished);
        return FileError(error);
    }
    if (journal.OnDisk()) {
        if (const int rc = journal.Remove(); rc != 0)
            return FileError(rc);
    }
    return Outcome(RepairStatus::Repaired, "");
}

} // namespace

std::string WithAviExtension(std::string path)
{
    const size_t slash = path.find_last_of('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    if (path.find('.', name) == std::string::npos)
        path += ".avi";
    return path;
}

EntryCheck CheckDamagedFile(const std::string &path)
{
    // Not locked here: a file being recorded gets its message when the repair locks it.
    LockedFile file(path, O_RDONLY, false);
    if (!file.IsOpen())
        return EntryCheck::CantOpen;
    if (file.Size() >= fixed::kMinimumSize)
        return EntryCheck::Ok;
    // A short file passes only when it is a RIFF recording with a complete frame in it.
    FileSource source(file.Fd(), file.Size());
    if (HasFixedLayoutData(source))
        return EntryCheck::NoVideo;
    std::vector<uint8_t> image(size_t(file.Size()));
    image.resize(source.ReadAt(0, image.data(), image.size()));
    const std::optional<AviHeader> header = ParseAviHeader(image);
    if (!header)
        return EntryCheck::NoVideo;
    const WalkResult walk = WalkRiffAvi(source, *header);
    for (const DataChunk &c : walk.chunks) {
        if (header->streams[c.stream].kind == StreamKind::Video && c.size > 0)
            return EntryCheck::Ok;
    }
    return EntryCheck::NoVideo;
}

RepairOutcome RepairAviFile(const std::string &damagedPath, const std::string &goodPath,
                            const ProgressFn &progress, const AfterWriteFn &afterWrite)
{
    auto emit = [&](std::string_view line) {
        if (progress)
            progress(line);
    };
    LockedFile damaged(damagedPath, O_RDWR);
    if (!damaged.IsOpen())
        return Outcome(RepairStatus::CantOpenDamaged, kCantOpenDamaged);
    // A repair cut off by a crash is undone before anything else is read.
    UndoJournal journal(UndoJournal::PathFor(damagedPath));
    const UndoJournal::Playback playback = journal.PlayBack(damaged.Fd());
    if (playback == UndoJournal::Playback::Failed || !damaged.Restat())
        return FileError(errno);
    LockedFile good(goodPath, O_RDONLY);
    if (!good.IsOpen())
        return Outcome(RepairStatus::CantOpenGood, kCantOpenGood);
    emit(kWorking);

    FileSource damagedSource(damaged.Fd(), damaged.Size());
    FileSource goodSource(good.Fd(), good.Size());
    const RepairPlan plan = PlanRepair(damagedSource, goodSource, progress);
    RepairOutcome out = FromPlan(plan);
    if (plan.status == PlanStatus::ReadError) {
        const int error = damagedSource.Error() != 0 ? damagedSource.Error() : goodSource.Error();
        out = FileError(error == 0 ? EIO : error);
        out.status = RepairStatus::FileError;
    }
    if (out.status == RepairStatus::Repaired)
        out = Apply(damaged, journal, plan, afterWrite);
    out.frames = plan.frames;
    out.layout = plan.layout;
    emit(kFinished);
    return out;
}

} // namespace mendrel
