#pragma once

#include "ServerContext.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace vorlund {

struct DiskFigures
{
    uint64_t freeBytes = 0; // free to an unprivileged writer
    uint64_t totalBytes = 0;
};

// Free and total bytes of the file system holding `folder`; nullopt when it cannot be asked.
std::optional<DiskFigures> QueryDiskFigures(const std::filesystem::path &folder);
using DiskQuery = std::function<std::optional<DiskFigures>(const std::filesystem::path &)>;

// The free-space measurement of the recording drive and the once-per-run guard on it.
class DiskGuard final : public IDiskGuard
{
public:
    DiskGuard(ServerContext &context, ICaptureGraph &graph, IRunControl &run, IMailer &mailer,
              DiskQuery query = QueryDiskFigures);

    void UpdateDiskSpace() override;
    void GuardDiskSpace() override;
    uint64_t RecordFileBytes() const override { return m_recordBytes; }

    // Free percentage of the recording drive, -1 until measured.
    int FreePercent() const { return m_freePercent; }

private:
    ServerContext &m_context;
    ICaptureGraph &m_graph;
    IRunControl &m_run;
    IMailer &m_mailer;
    DiskQuery m_query;
    int m_freePercent = -1;
    uint64_t m_recordBytes = 0;
};

} // namespace vorlund
