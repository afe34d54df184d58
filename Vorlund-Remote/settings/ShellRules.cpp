#include "ShellRules.h"
#include "ViewerSettings.h"

#include <algorithm>

namespace vorlund::viewer {

void PushHost(std::array<QString, 3> &hosts, const QString &host)
{
    if (host == hosts[0])
        return;
    if (host == hosts[1]) {
        std::swap(hosts[0], hosts[1]);
        return;
    }
    hosts[2] = hosts[1];
    hosts[1] = hosts[0];
    hosts[0] = host;
}

void ApplyConfiguration(ViewerSettings &settings, const ConfigurationValues &values)
{
    settings.mode = values.mode == 0 ? 0 : 1;
    if (settings.mode == 1) {
        PushHost(settings.hosts, values.host);
        settings.port = values.port;
    }
    settings.quality = ConfiguredQuality(values.quality);
    settings.beep = values.beep;
}

std::optional<QString> WorkingFolder(const QString &currentFolder)
{
    QString folder = currentFolder;
    while (!folder.isEmpty()) {
        const QChar last = folder.back();
        if (last != u'/' && last != u' ' && last != u'?' && last != u':' && last != u'*')
            break;
        folder.chop(1);
    }
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

QRect PlaceFrame(const FrameRect &stored, const QRect &workArea, const QSize &screen,
                 const QSize &icon)
{
    const int width = stored.right - stored.left;
    const int height = stored.bottom - stored.top;
    const int x = std::clamp(stored.left + workArea.left(), icon.width() - width,
                             std::max(icon.width() - width, screen.width() - icon.width()));
    const int y = std::clamp(stored.top + workArea.top(), std::min(0, workArea.top()),
                             std::max(0, screen.height() - icon.height()));
    return { x, y, width, height };
}

} // namespace vorlund::viewer
