#pragma once

#include "AviPlan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace mendrel {

inline constexpr std::string_view kReady = "Ready.\n";
inline constexpr std::string_view kWorking = "Working.\n";
inline constexpr std::string_view kFinished = "Finished.\n";
inline constexpr std::string_view kCantOpenDamaged = "Can't open a avi file.";
inline constexpr std::string_view kCantOpenGood = "Can't open good avi file.";
inline constexpr std::string_view kNoVideo
    = "This file has no video content...\nPlease select a different file.";
inline constexpr std::string_view kSelectGood
    = "Now select a similar AVI file\n that is known to work correctly.";
inline constexpr std::string_view kNotRepairable
    = "This file is not an AVI recording that can be repaired.\nIt was left unchanged.";
inline constexpr std::string_view kWrongGoodFile
    = "The good file cannot serve: it is not an AVI recording like the damaged one.\n"
      "Please select a different good file. The damaged file was left unchanged.";
inline constexpr std::string_view kTooManyIndexes
    = "The file holds more index chunks than its header can list.\nIt was left unchanged.";
inline constexpr std::string_view kIndexMismatch
    = "The file's index chunks would not list every frame exactly once.\nIt was left unchanged.";
inline constexpr std::string_view kNoSpace
    = "There is not enough disk space to repair this file.\nIt was left unchanged.";
inline constexpr std::string_view kFileError
    = "A file error stopped the repair.\nThe file was left unchanged.";
inline constexpr std::string_view kFileErrorUnfinished
    = "A file error stopped the repair before it was done.\nRepair the file again.";

// ".avi" is added when the file name has no ".".
std::string WithAviExtension(std::string path);

// The checks before the good file is asked for.
enum class EntryCheck {
    Ok,
    CantOpen, // the flow ends without a message
    NoVideo, // kNoVideo
};
EntryCheck CheckDamagedFile(const std::string &path);

enum class RepairStatus {
    Repaired,
    CantOpenDamaged, // missing, unreadable, or locked (being recorded)
    CantOpenGood,
    NoVideo,
    NotRepairable,
    WrongGoodFile,
    TooManyIndexes,
    IndexMismatch,
    NoSpace,
    FileError,
};

struct RepairOutcome
{
    RepairStatus status = RepairStatus::FileError;
    // The box to show ("" when repaired).
    std::string message;
    uint64_t frames = 0;
    Layout layout = Layout::None;
};

// Called after each write of a repair with its number (from 0).
using AfterWriteFn = std::function<void(size_t write)>;

// Repairs `damaged` in place from the header of `good`, both locked exclusively for the run.
// Status lines ("Working.\n", "Building frame index...\n", "frames = N\n", "Finished.\n") go to
// `progress` as the work reaches them. Nothing is written unless the whole repair is planned,
// the appended bytes are reserved and the original bytes are kept; a failed write is rolled
// back. The undo file goes beside the recording when its folder takes it (a crash is then
// undone at the next start); without it the order of the writes lets the next run finish.
RepairOutcome RepairAviFile(const std::string &damaged, const std::string &good,
                            const ProgressFn &progress, const AfterWriteFn &afterWrite = {});

} // namespace mendrel
