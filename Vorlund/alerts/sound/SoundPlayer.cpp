#include "SoundPlayer.h"
#include "Sounds.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <system_error>

namespace vorlund {

SoundPlayer::SoundPlayer(std::filesystem::path folder, std::string audioSink)
    : m_folder(std::move(folder)), m_audioSink(std::move(audioSink))
{ }

SoundPlayer::~SoundPlayer()
{
    m_watch.reset();
    Release();
}

bool SoundPlayer::EnsurePlayer()
{
    if (m_playbin)
        return true;
    ElementRef playbin(gst_element_factory_make("playbin", "SoundPlayer"), RefMode::HasRef);
    if (!playbin)
        return false;
    if (!m_audioSink.empty()) {
        GError *error = nullptr;
        GstElement *sink = gst_parse_launch(m_audioSink.c_str(), &error);
        if (error)
            g_error_free(error);
        if (!sink)
            return false;
        g_object_set(playbin.get(), "audio-sink", sink, nullptr); // playbin takes the sink
    }
    // No picture for a sound file with a cover: only the audio stream is played.
    g_object_set(playbin.get(), "flags", 0x02, nullptr);
    m_bus = BusRef(gst_element_get_bus(playbin.get()), RefMode::HasRef);
    m_playbin = std::move(playbin);
    if (QCoreApplication::instance()) {
        GPollFD fd {};
        gst_bus_get_pollfd(m_bus.get(), &fd);
        m_watch = std::make_unique<QSocketNotifier>(fd.fd, QSocketNotifier::Read);
        QObject::connect(m_watch.get(), &QSocketNotifier::activated, [this] { Drain(); });
    }
    return true;
}

void SoundPlayer::PlaySound(std::string_view fileName)
{
    // Only a plain name inside the working folder.
    if (fileName.empty() || fileName.find('/') != std::string_view::npos || fileName == "."
        || fileName == "..")
        return;
    const std::filesystem::path file = m_folder / std::string(fileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return; // no default sound for a missing file
    if (!EnsurePlayer())
        return;
    gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
    Drain();
    gchar *uri = gst_filename_to_uri(file.c_str(), nullptr);
    if (!uri)
        return;
    g_object_set(m_playbin.get(), "uri", uri, nullptr);
    g_free(uri);
    m_playing
        = gst_element_set_state(m_playbin.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (!m_playing)
        gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
}

void SoundPlayer::Drain()
{
    if (!m_bus)
        return;
    while (GstMessage *raw = gst_bus_timed_pop_filtered(m_bus.get(), 0, GST_MESSAGE_ANY)) {
        const MessageRef message(raw, RefMode::HasRef);
        const GstMessageType type = GST_MESSAGE_TYPE(raw);
        if ((type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) && m_playing) {
            // The sound is over (or cannot be played): free the audio device.
            m_playing = false;
            gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
        }
    }
}

void SoundPlayer::Release()
{
    if (m_playbin)
        gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
    m_playing = false;
    m_bus.reset();
    m_playbin.reset();
}

std::unique_ptr<ISound> MakeSoundPlayer(const std::filesystem::path &folder)
{
    return std::make_unique<SoundPlayer>(folder);
}

} // namespace vorlund
