#pragma once

#include "AviPlan.h"

#include <string>
#include <vector>

namespace mendrel {

// Before the repair writes a byte of a recording it keeps the original bytes of every region it
// will change, and the original size: in memory, so a repair that fails is undone at once, and in
// an undo file beside the recording when its folder takes one, so a crash mid-write is undone at
// the next start. Without the file the order of the writes keeps a crashed repair mendable.
class UndoJournal
{
public:
    explicit UndoJournal(std::string path) : m_path(std::move(path)) { }
    static std::string PathFor(const std::string &recording) { return recording + ".mendrel-undo"; }

    // Keeps the bytes `plan` will overwrite (read from `fd`) and writes the undo file durably.
    // Returns 0 or an errno; nothing is left behind on failure.
    int Save(int fd, const RepairPlan &plan);
    // The same, but a folder that takes no undo file is no failure: OnDisk() then says false.
    // Fails only when the recording cannot be read.
    int Keep(int fd, const RepairPlan &plan);
    bool OnDisk() const { return m_onDisk; }

    enum class Playback { NoJournal, Restored, Discarded, Failed };
    // Puts back what an undo file holds and deletes it. One that is not complete was never
    // followed by a write, so it is only deleted.
    Playback PlayBack(int fd);
    // Puts back the bytes kept by Save or Keep and the old size; deletes the undo file once the
    // file is durable again. False when the file could not be put back.
    bool Undo(int fd);

    // Deletes the undo file once the repair is durable. Returns 0 or an errno.
    int Remove();

    const std::string &Path() const { return m_path; }

private:
    int Write();
    // Restores `image` (the undo file's format) into `fd`.
    static bool Restore(int fd, const std::vector<uint8_t> &image);

    std::string m_path;
    std::vector<uint8_t> m_image; // what Save or Keep read, in the undo file's format
    bool m_onDisk = false;
};

} // namespace mendrel
