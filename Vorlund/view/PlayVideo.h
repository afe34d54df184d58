#pragma once

#include <filesystem>
#include <string>

class QWidget;

namespace vorlund {

class IDesktop;
class INotifier;

enum class PlayVideoVerdict { Play, NoVideo, InUse, CannotOpen };

// What Play Video does with a chosen path: a name without any dot gets ".avi"; a file held by
// the recorder (the one being written, or one another process holds locked) is in use; a file of
// 130,564 bytes or less has no video. `path` is updated with the name tried.
PlayVideoVerdict CheckVideoToPlay(std::filesystem::path &path,
                                  const std::filesystem::path &recordingNow);

inline constexpr const char *kNoVideoContentText
    = "This file has no video content...\nPlease select a different file.";
inline constexpr const char *kVideoInUseText
    = "This video file is in use.\nPlease select a different file, or\nStop Vorlund to close "
      "this file.";

// The Play Video dialog: stays open after each file so several can be played in turn; a
// playable file opens in the desktop's player (a box names it when there is none).
void RunPlayVideoDialog(QWidget *parent, const std::filesystem::path &videoFolder,
                        const std::filesystem::path &recordingNow, INotifier &notifier,
                        IDesktop &desktop);

} // namespace vorlund
