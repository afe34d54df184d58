#pragma once

#include "AviPlan.h"

#include <string>

namespace mendrel {

// Before the repair writes a byte of a recording it saves the original bytes of every region it
// will change, and the original size, in an undo file beside it. A crash mid-write is undone
// at the next start; a repair that fails is undone at once.
class UndoJournal
{
public:
    explicit UndoJournal(std::string path) : m_path(std::move(path)) { }
    static std::string PathFor(const std::string &recording) { return recording + ".mendrel-undo"; }

    // Saves the bytes `plan` will overwrite (read from `fd`) and makes the file durable.
    // Returns 0 or an errno; nothing is left behind on failure.
    int Save(int fd, const RepairPlan &plan);

    enum class Playback { NoJournal, Restored, Discarded, Failed };
    // Puts back what a journal holds and deletes it. A journal that is not complete was never
    // followed by a write, so it is only deleted.
    Playback PlayBack(int fd);

    // Deletes the journal once the repair is durable. Returns 0 or an errno.
    int Remove();

    const std::string &Path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace mendrel
