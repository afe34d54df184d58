#include "DiskGuard.h"

#include "DeviceSettings.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace vorlund {

namespace {

constexpr int kStopPercent = 2;
constexpr int kMailPercent = 6;
constexpr std::string_view kDiskFullText
    = "WARNING: Disk space is too low!\nPlease free some disk space.\nStopping Vorlund!";

} // namespace

std::optional<DiskFigures> QueryDiskFigures(const std::filesystem::path &folder)
{
    struct statvfs fs
    {
    };
    if (::statvfs(folder.c_str(), &fs) != 0)
        return std::nullopt;
    const uint64_t unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    return DiskFigures { uint64_t(fs.f_bavail) * unit, uint64_t(fs.f_blocks) * unit };
}

DiskGuard::DiskGuard(ServerContext &context, ICaptureGraph &graph, IRunControl &run,
                     IMailer &mailer, DiskQuery query)
    : m_context(context), m_graph(graph), m_run(run), m_mailer(mailer), m_query(std::move(query))
{ }

void DiskGuard::UpdateDiskSpace()
{
    const std::filesystem::path file = m_graph.RecordFile();
    if (file.empty())
        return;
    std::filesystem::path folder = file.parent_path();
    if (folder.empty())
        folder = ".";
    const std::optional<DiskFigures> figures = m_query(folder);
    if (!figures)
        return;
    if (figures->totalBytes == 0) {
        // A file system without a size cannot be judged.
        m_freePercent = -1;
        return;
    }
    const unsigned __int128 percent
        = static_cast<unsigned __int128>(figures->freeBytes) * 100 / figures->totalBytes;
    m_freePercent = percent > 100 ? 100 : int(percent);

    struct stat info
    {
    };
    m_recordBytes = ::stat(file.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
}

void DiskGuard::GuardDiskSpace()
{
    if (m_freePercent < 0)
        return;
    int &warned = m_context.view.DiskWarnedLevel;
    if (m_freePercent < kStopPercent && warned < 2) {
        warned = 2;
        m_run.StopCapture();
        m_context.notifier.ShowMessage(kDiskFullText, kPlainCaption);
    } else if (m_freePercent < kMailPercent && warned < 1) {
        warned = 1;
        if (m_context.settings.Config.LowDiskMail)
            m_mailer.QueueLowDiskMail(m_freePercent);
    }
}

} // namespace vorlund
