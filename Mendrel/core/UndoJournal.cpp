#include "UndoJournal.h"

#include "AviBytes.h"
#include "PosixIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mendrel {

namespace {

constexpr char kMagic[16] = "MENDREL-UNDO-1\n";
constexpr size_t kHeader = sizeof kMagic + 8 + 4;

uint64_t Fnv1a(const uint8_t *p, size_t n)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

struct Region
{
    uint64_t offset;
    size_t at;
    size_t length;
};

// The regions of a complete image; false when it is torn or is no undo image.
bool Parse(const std::vector<uint8_t> &in, std::vector<Region> &regions)
{
    if (in.size() < kHeader + 8 || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0
        || Le64(in.data() + in.size() - 8) != Fnv1a(in.data(), in.size() - 8))
        return false;
    const uint32_t count = Le32(in.data() + sizeof kMagic + 8);
    size_t at = kHeader;
    for (uint32_t i = 0; i < count; ++i) {
        if (in.size() - 8 - at < 12)
            return false;
        const uint64_t offset = Le64(in.data() + at);
        const size_t length = Le32(in.data() + at + 8);
        at += 12;
        if (in.size() - 8 - at < length)
            return false;
        regions.push_back({ offset, at, length });
        at += length;
    }
    return true;
}

} // namespace

int UndoJournal::Keep(int fd, const RepairPlan &plan)
{
    std::vector<uint8_t> &out = m_image;
    out.assign(kHeader, 0);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    PutLe64(out.data() + sizeof kMagic, plan.oldSize);
    uint32_t count = 0;
    for (const Patch &p : plan.patches) {
        if (p.offset >= plan.oldSize || p.bytes.empty())
            continue;
        const size_t length = size_t(std::min<uint64_t>(p.bytes.size(), plan.oldSize - p.offset));
        const size_t at = out.size();
        out.resize(at + 12 + length);
        PutLe64(out.data() + at, p.offset);
        PutLe32(out.data() + at + 8, uint32_t(length));
        if (!PReadAll(fd, out.data() + at + 12, length, p.offset)) {
            out.clear();
            return errno != 0 ? errno : EIO;
        }
        ++count;
    }
    PutLe32(out.data() + sizeof kMagic + 8, count);
    uint8_t sum[8];
    PutLe64(sum, Fnv1a(out.data(), out.size()));
    out.insert(out.end(), sum, sum + 8);
    m_onDisk = Write() == 0;
    return 0;
}

int UndoJournal::Save(int fd, const RepairPlan &plan)
{
    if (const int rc = Keep(fd, plan); rc != 0)
        return rc;
    return m_onDisk ? 0 : Write();
}

int UndoJournal::Write()
{
    const int jfd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (jfd < 0)
        return errno;
    int rc = 0;
    if (!PWriteAll(jfd, m_image.data(), m_image.size(), 0) || ::fsync(jfd) != 0)
        rc = errno != 0 ? errno : EIO;
    ::close(jfd);
    if (rc == 0)
        rc = SyncFolderOf(m_path);
    if (rc != 0)
        ::unlink(m_path.c_str());
    return rc;
}

bool UndoJournal::Restore(int fd, const std::vector<uint8_t> &image)
{
    std::vector<Region> regions;
    if (!Parse(image, regions))
        return false;
    for (const Region &r : regions) {
        if (!PWriteAll(fd, image.data() + r.at, r.length, r.offset))
            return false;
    }
    const uint64_t oldSize = Le64(image.data() + sizeof kMagic);
    return ::ftruncate(fd, off_t(oldSize)) == 0 && ::fsync(fd) == 0;
}

UndoJournal::Playback UndoJournal::PlayBack(int fd)
{
    const int jfd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (jfd < 0)
        return errno == ENOENT ? Playback::NoJournal : Playback::Failed;
    struct stat st
    {
    };
    std::vector<uint8_t> in;
    bool readOk = ::fstat(jfd, &st) == 0 && st.st_size >= 0;
    if (readOk) {
        in.resize(size_t(st.st_size));
        readOk = PReadAll(jfd, in.data(), in.size(), 0);
    }
    ::close(jfd);
    if (!readOk)
        return Playback::Failed;
    std::vector<Region> regions;
    if (!Parse(in, regions))
        return Remove() == 0 ? Playback::Discarded : Playback::Failed;
    if (!Restore(fd, in))
        return Playback::Failed;
    return Remove() == 0 ? Playback::Restored : Playback::Failed;
}

bool UndoJournal::Undo(int fd)
{
    if (m_image.empty() || !Restore(fd, m_image))
        return false;
    return !m_onDisk || Remove() == 0;
}

int UndoJournal::Remove()
{
    if (::unlink(m_path.c_str()) != 0 && errno != ENOENT)
        return errno;
    return SyncFolderOf(m_path);
}

} // namespace mendrel
