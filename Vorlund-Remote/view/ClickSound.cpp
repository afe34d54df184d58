#include "ClickSound.h"

#include <QDir>
#include <QUrl>

#include <gst/gst.h>

namespace vorlund::viewer {

std::optional<QString> FindFileNoCase(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    for (const QString &entry : dir.entryList(QDir::Files | QDir::Readable))
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    return std::nullopt;
}

struct ClickSound::Player
{
    GstElement *playbin = nullptr; // owned

    ~Player()
    {
        if (playbin) {
            gst_element_set_state(playbin, GST_STATE_NULL);
            gst_object_unref(playbin);
        }
    }
};

ClickSound::ClickSound() = default;

ClickSound::~ClickSound() = default;

bool ClickSound::Play(const QString &folder, const QString &name)
{
    const auto file = FindFileNoCase(folder, name);
    if (!file)
        return false;
    if (!m_player) {
        if (!gst_init_check(nullptr, nullptr, nullptr))
            return false;
        auto player = std::make_unique<Player>();
        player->playbin = gst_element_factory_make("playbin", nullptr);
        if (!player->playbin)
            return false;
        gst_object_ref_sink(player->playbin);
        // No picture, ever: a sound file has none, and no video window may open.
        if (GstElement *fake = gst_element_factory_make("fakesink", nullptr))
            g_object_set(player->playbin, "video-sink", fake, nullptr);
        m_player = std::move(player);
    }
    GstElement *playbin = m_player->playbin;
    gst_element_set_state(playbin, GST_STATE_NULL);
    const QByteArray uri = QUrl::fromLocalFile(*file).toEncoded();
    g_object_set(playbin, "uri", uri.constData(), nullptr);
    return gst_element_set_state(playbin, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

} // namespace vorlund::viewer
