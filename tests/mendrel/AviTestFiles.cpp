#include "AviTestFiles.h"

#include "AviBytes.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <limits>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace mendrel::test {

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "mendrel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::vector<uint8_t> ReadAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

void WriteAll(const fs::path &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

namespace {

void Put32(std::vector<uint8_t> &b, uint64_t at, uint32_t v)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    PutLe32(b.data() + at, v);
}

void PutId(std::vector<uint8_t> &b, uint64_t at, const char *id)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    std::copy_n(id, 4, b.data() + at);
}

uint64_t Align16(uint64_t v)
{
    return (v + 15) / 16 * 16;
}

} // namespace

void WriteFixedFile(const fs::path &path, const FixedSpec &spec, std::vector<FixedChunk> *written)
{
    std::vector<uint8_t> f(0xFE00, 0);
    // The header the writer puts down at the start.
    PutId(f, 0, "RIFF");
    PutId(f, 8, "AVI ");
    PutId(f, 12, "LIST");
    Put32(f, 16, 0x7FE0 - 20);
    PutId(f, 20, "hdrl");
    PutId(f, 24, "avih");
    Put32(f, 28, 56);
    Put32(f, 32, 40000); // 25 frames a second
    Put32(f, 44, 0x10);
    Put32(f, 56, 1); // streams
    Put32(f, 64, kFixedWidth);
    Put32(f, 68, kFixedHeight);
    PutId(f, 88, "LIST");
    Put32(f, 92, 0x7ED4 - 96);
    PutId(f, 96, "strl");
    PutId(f, 100, "strh");
    Put32(f, 104, 56);
    PutId(f, 108, "vids");
    PutId(f, 112, "DIB ");
    Put32(f, 128, 1); // scale
    Put32(f, 132, 25); // rate
    PutId(f, 164, "strf");
    Put32(f, 168, 40);
    Put32(f, 172, 40);
    Put32(f, 176, kFixedWidth);
    Put32(f, 180, kFixedHeight);
    f[184] = 1;
    f[186] = 24;
    Put32(f, 192, kFixedFrameBytes);
    PutId(f, 212, "indx");
    Put32(f, 216, 0x7ED4 - 220);
    f[220] = 4;
    f[223] = 0; // index of indexes
    PutId(f, 228, "00db");
    PutId(f, 0x7ED4, "LIST");
    Put32(f, 0x7ED8, 260);
    PutId(f, 0x7EDC, "odml");
    PutId(f, 0x7EE0, "dmlh");
    Put32(f, 0x7EE4, 248);
    // The movi list and a 12-byte JUNK fill the 20 bytes up to the room at 0x8000.
    const uint64_t movi = spec.moviAt7FE0 ? 0x7FE0 : 0x7FF4;
    PutId(f, spec.moviAt7FE0 ? 0x7FEC : 0x7FE0, "JUNK");
    Put32(f, spec.moviAt7FE0 ? 0x7FF0 : 0x7FE4, 12);
    PutId(f, movi, "LIST");
    PutId(f, movi + 8, "movi");
    PutId(f, 0x8000, "JUNK"); // the room until its index is written
    Put32(f, 0x8004, 0x7E00 - 8);

    struct IndexRoom
    {
        uint64_t at;
        uint32_t room;
        std::vector<uint64_t> frames;
        std::vector<uint32_t> sizes;
    };
    std::vector<IndexRoom> rooms { { 0x8000, 0x7E00, {}, {} } };
    std::vector<FixedChunk> chunks;
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> sizes;
    const uint32_t perRoom = spec.perIndex > 0 ? uint32_t(spec.perIndex) : 4028;
    const size_t finishedRooms = spec.finishedSegments < 0 ? std::numeric_limits<size_t>::max()
                                                           : size_t(spec.finishedSegments);
    // A room ahead of its frames is JUNK until its index is written; one after them is put down
    // only when the segment is finished.
    auto placeRoom = [&](IndexRoom &r, bool junk) {
        r.at = f.size();
        f.resize(r.at + r.room, 0);
        if (junk) {
            PutId(f, r.at, "JUNK");
            Put32(f, r.at + 4, r.room - 8);
        }
        chunks.push_back({ r.at, r.room - 8, "ix00" });
    };
    for (int i = 0; i < spec.frames; ++i) {
        if (rooms.back().frames.size() == perRoom && spec.perIndex > 0) {
            if (spec.indexAfter && rooms.size() > 1 && rooms.size() <= finishedRooms)
                placeRoom(rooms.back(), false);
            rooms.push_back({ 0, uint32_t(Align16(32 + 8 * perRoom)), {}, {} });
            if (!spec.indexAfter)
                placeRoom(rooms.back(), true);
        }
        // With pads, sizes step down so frames end at every offset within 16 (or 8) bytes.
        uint32_t size = spec.frameBytes;
        if (spec.pads == FixedPads::ShortZeros)
            size -= uint32_t(i % 8);
        else if (spec.pads != FixedPads::None)
            size -= uint32_t(i % 16);
        const uint64_t at = f.size();
        PutId(f, at, "00db");
        Put32(f, at + 4, size);
        f.resize(at + 8 + size + (size & 1), 0);
        for (uint32_t b = 0; b < size; ++b)
            f[at + 8 + b] = uint8_t(i * 7 + b);
        chunks.push_back({ at, size, "00db" });
        if (spec.pads == FixedPads::None || spec.pads == FixedPads::ShortZeros) {
            f.resize(size_t(Align16(f.size())), 0);
        } else {
            // A pad needs room for its header: at least 8 bytes to the boundary.
            const uint64_t end = f.size();
            const uint64_t next = Align16(end + 8);
            f.resize(next, 0);
            if (spec.pads != FixedPads::Zeros) {
                PutId(f, end, "JUNK");
                Put32(f, end + 4, uint32_t(next - end - 8));
            }
            chunks.push_back(
                { end, uint32_t(next - end - 8), spec.pads == FixedPads::Zeros ? "" : "JUNK" });
        }
        rooms.back().frames.push_back(at);
        rooms.back().sizes.push_back(size);
        offsets.push_back(at);
        sizes.push_back(size);
    }
    // A finished file has every index; the last one after its frames closes the data.
    if (spec.indexAfter && spec.finished && rooms.size() > 1) {
        IndexRoom &last = rooms.back();
        last.room = uint32_t(Align16(32 + 8 * uint64_t(last.frames.size())));
        placeRoom(last, false);
    }
    for (size_t r = 0; r < rooms.size() && r < finishedRooms; ++r) {
        const IndexRoom &room = rooms[r];
        if (room.at == 0 || (r == 0 && spec.indexAfter && !spec.finished))
            continue;
        const bool repeat = spec.repeatIndex && r >= 2
            && (r + 1 == rooms.size() || r + 1 == finishedRooms || rooms[r + 1].at == 0);
        const IndexRoom &listed = repeat ? rooms[r - 1] : room;
        const uint64_t base = r == 0 ? 0xFE00 : listed.frames.front();
        PutId(f, room.at, "ix00");
        Put32(f, room.at + 4, room.room - 8);
        f[room.at + 8] = 2;
        f[room.at + 11] = 1;
        Put32(f, room.at + 12, uint32_t(listed.frames.size()));
        PutId(f, room.at + 16, "00db");
        Put32(f, room.at + 20, uint32_t(base));
        for (size_t j = 0; j < listed.frames.size(); ++j) {
            Put32(f, room.at + 32 + 8 * j, uint32_t(listed.frames[j] + 8 - base));
            Put32(f, room.at + 36 + 8 * j, listed.sizes[j]);
        }
    }
    if (spec.finished) {
        const uint64_t idx1 = f.size();
        PutId(f, idx1, "idx1");
        Put32(f, idx1 + 4, uint32_t(16 * (offsets.size() + 1)));
        PutId(f, idx1 + 8, "7Fxx");
        Put32(f, idx1 + 16, 0x8000);
        for (size_t j = 0; j < offsets.size(); ++j) {
            const uint64_t e = idx1 + 24 + 16 * j;
            PutId(f, e, "00db");
            Put32(f, e + 4, 0x10);
            Put32(f, e + 8, uint32_t(offsets[j]));
            Put32(f, e + 12, sizes[j]);
        }
        chunks.push_back({ idx1, uint32_t(f.size() - idx1 - 8), "idx1" });
        Put32(f, 4, uint32_t(f.size() - 8));
        Put32(f, movi + 4, uint32_t(idx1 - movi - 8));
        Put32(f, 48, uint32_t(offsets.size() - 1));
        Put32(f, 140, uint32_t(offsets.size()));
        Put32(f, 0x7EE8, uint32_t(offsets.size()));
        Put32(f, 224, uint32_t(rooms.size()));
        for (size_t r = 0; r < rooms.size(); ++r) {
            Put32(f, 244 + 16 * r, uint32_t(rooms[r].at));
            Put32(f, 252 + 16 * r, rooms[r].room);
            Put32(f, 256 + 16 * r, uint32_t(rooms[r].frames.size()));
        }
    }
    if (spec.zeroHeader)
        std::fill(f.begin() + 224, f.begin() + 0x8000, 0);
    f.resize(f.size() - std::min<uint64_t>(spec.cutBytes, f.size()));
    WriteAll(path, f);
    if (written)
        *written = chunks;
}

bool RecordAvimux(const fs::path &path, const RecordSpec &spec)
{
    const bool kill = spec.killAtBytes != 0;
    const std::string frames = "num-buffers=" + std::to_string(kill ? 100000 : spec.frames);
    std::vector<std::string> args { "gst-launch-1.0",
                                    "-q",
                                    "videotestsrc",
                                    frames,
                                    "pattern=ball",
                                    "!",
                                    "video/x-raw,width=160,height=120,framerate=15/1",
                                    "!",
                                    "avenc_msmpeg4",
                                    "gop-size=" + std::to_string(kGop),
                                    "!",
                                    "avimux",
                                    "name=mux",
                                    "!",
                                    "filesink",
                                    "location=" + path.string() };
    if (spec.audio) {
        const std::string samples
            = "num-buffers=" + std::to_string(kill ? 1000000 : spec.frames * 3);
        for (const char *a : { "audiotestsrc", samples.c_str(), "!", "audioconvert", "!",
                               "lamemp3enc", "!", "mux." })
            args.emplace_back(a);
    }
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        if (spec.fileSizeLimit != 0) {
            // Writes past the limit fail with EFBIG, as on a full disk.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit { rlim_t(spec.fileSizeLimit), rlim_t(spec.fileSizeLimit) };
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (kill) {
        for (;;) {
            std::error_code ec;
            const auto size = fs::file_size(path, ec);
            if (!ec && size >= spec.killAtBytes) {
                ::kill(pid, SIGKILL);
                break;
            }
            if (::waitpid(pid, &status, WNOHANG) == pid)
                return false; // finished before it got that far
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ::waitpid(pid, &status, 0);
    if (kill)
        return WIFSIGNALED(status);
    return spec.fileSizeLimit != 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void WriteSparseBigFile(const fs::path &path, uint32_t frameBytes, int framesFirst,
                        int framesSecond, uint64_t cutInLastFrame)
{
    // Header: one raw video stream, a 536-byte JUNK kept for the super index, dmlh.
    std::vector<uint8_t> h;
    ByteWriter w(h);
    w.FourCC("RIFF");
    w.U32(0);
    w.FourCC("AVI ");
    w.FourCC("LIST");
    const size_t hdrlSize = h.size();
    w.U32(0);
    w.FourCC("hdrl");
    w.FourCC("avih");
    w.U32(56);
    w.U32(40000);
    w.Zeros(8);
    w.U32(0); // flags
    w.U32(0); // total frames
    w.U32(0);
    w.U32(1); // streams
    w.U32(0);
    w.U32(720);
    w.U32(576);
    w.Zeros(16);
    w.FourCC("LIST");
    w.U32(4 + 64 + 48 + 544);
    w.FourCC("strl");
    w.FourCC("strh");
    w.U32(56);
    w.FourCC("vids");
    w.FourCC("RGB ");
    w.Zeros(12);
    w.U32(1); // scale
    w.U32(25); // rate
    w.Zeros(8);
    w.U32(0); // suggested buffer
    w.Zeros(16);
    w.FourCC("strf");
    w.U32(40);
    w.U32(40);
    w.U32(720);
    w.U32(576);
    w.U16(1);
    w.U16(24);
    w.U32(0);
    w.U32(frameBytes);
    w.Zeros(16);
    w.FourCC("JUNK");
    w.U32(536);
    w.Zeros(536);
    w.FourCC("LIST");
    w.U32(16);
    w.FourCC("odml");
    w.FourCC("dmlh");
    w.U32(4);
    w.U32(0);
    PutLe32(h.data() + hdrlSize, uint32_t(h.size() - hdrlSize - 4));
    const uint64_t movi = h.size();
    w.FourCC("LIST");
    w.U32(4);
    w.FourCC("movi");

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    auto put = [&](uint64_t at, const std::vector<uint8_t> &b) {
        (void)!::pwrite(fd, b.data(), b.size(), off_t(at));
    };
    put(0, h);
    uint64_t p = h.size();
    auto frameHeader = [&](uint64_t at) {
        std::vector<uint8_t> c;
        ByteWriter cw(c);
        cw.FourCC("00db");
        cw.U32(frameBytes);
        put(at, c);
    };
    std::vector<uint64_t> first;
    for (int i = 0; i < framesFirst; ++i) {
        frameHeader(p);
        first.push_back(p);
        p += 8 + frameBytes + (frameBytes & 1);
    }
    // What avimux writes when it starts the next RIFF: ix00, idx1, then RIFF AVIX.
    std::vector<uint8_t> tail;
    ByteWriter tw(tail);
    tw.FourCC("ix00");
    tw.U32(uint32_t(24 + 8 * first.size()));
    tw.U16(2);
    tw.U8(0);
    tw.U8(1);
    tw.U32(uint32_t(first.size()));
    tw.FourCC("00db");
    tw.U64(0);
    tw.U32(0);
    for (uint64_t at : first) {
        tw.U32(uint32_t(at + 8));
        tw.U32(frameBytes);
    }
    tw.FourCC("idx1");
    tw.U32(uint32_t(16 * first.size()));
    for (uint64_t at : first) {
        tw.FourCC("00db");
        tw.U32(0x10);
        tw.U32(uint32_t(at));
        tw.U32(frameBytes);
    }
    tw.FourCC("RIFF");
    tw.U32(12);
    tw.FourCC("AVIX");
    tw.FourCC("LIST");
    tw.U32(0);
    tw.FourCC("movi");
    put(p, tail);
    p += tail.size();
    for (int i = 0; i < framesSecond; ++i) {
        frameHeader(p);
        p += 8 + frameBytes + (frameBytes & 1);
    }
    (void)!::ftruncate(fd, off_t(p - cutInLastFrame));
    ::close(fd);
    (void)movi;
}

} // namespace mendrel::test
