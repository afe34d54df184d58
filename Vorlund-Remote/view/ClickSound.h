#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace vorlund::viewer {

// The sound file `name` in `folder`, its name matched without regard to case; nullopt when
// there is none.
std::optional<QString> FindFileNoCase(const QString &folder, const QString &name);

// Plays one sound file asynchronously through a GStreamer playbin; a missing file or a
// missing audio output stays silent. A new play restarts the sound.
class ClickSound
{
public:
    ClickSound();
    ~ClickSound();
    ClickSound(const ClickSound &) = delete;
    ClickSound &operator=(const ClickSound &) = delete;

    // Returns whether a sound was started.
    bool Play(const QString &folder, const QString &name);

private:
    struct Player;
    std::unique_ptr<Player> m_player;
};

} // namespace vorlund::viewer
