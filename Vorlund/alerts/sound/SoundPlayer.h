#pragma once

#include "GstHandles.h"
#include "Seams.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

class QSocketNotifier;

namespace vorlund {

// Plays sound files from the working folder without waiting for them (UI thread). A new sound
// replaces the one playing; a missing file is silent. The player's bus is read on the UI thread
// when it has something, and a sound that ended or failed gives its audio device back.
class SoundPlayer final : public ISound
{
public:
    // `audioSink`, when given, is the element description playbin plays into (tests use a
    // fakesink); otherwise playbin picks the system's output.
    explicit SoundPlayer(std::filesystem::path folder, std::string audioSink = {});
    ~SoundPlayer() override;
    SoundPlayer(const SoundPlayer &) = delete;
    SoundPlayer &operator=(const SoundPlayer &) = delete;

    void PlaySound(std::string_view fileName) override;

    // A sound has been started and has neither ended nor failed yet.
    bool IsPlaying() const { return m_playing; }
    // Handles what the player reported; the bus watch calls it, tests may too.
    void Drain();

private:
    bool EnsurePlayer();
    void Release();

    std::filesystem::path m_folder;
    std::string m_audioSink;
    ElementRef m_playbin;
    BusRef m_bus;
    std::unique_ptr<QSocketNotifier> m_watch;
    bool m_playing = false;
};

} // namespace vorlund
