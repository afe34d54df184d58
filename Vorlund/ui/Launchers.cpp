#include "Launchers.h"

#include <system_error>
#include <unistd.h>

namespace vorlund {

namespace {

bool IsProgram(const std::filesystem::path &p)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

} // namespace

ToolLaunchers::ToolLaunchers(std::filesystem::path workingFolder,
                             std::filesystem::path programFolder, INotifier &notifier,
                             IDesktop &desktop)
    : m_workingFolder(std::move(workingFolder)), m_programFolder(std::move(programFolder)),
      m_notifier(notifier), m_desktop(desktop)
{ }

std::optional<std::filesystem::path>
ToolLaunchers::FindOnlineHelp(const std::filesystem::path &programFolder)
{
    if (programFolder.empty())
        return std::nullopt;
    const std::filesystem::path candidates[] = {
        programFolder / kOnlineHelpPage,
        programFolder.parent_path() / "lib/vorlund" / kOnlineHelpPage,
    };
    std::error_code ec;
    for (const std::filesystem::path &p : candidates)
        if (std::filesystem::is_regular_file(p, ec))
            return p;
    return std::nullopt;
}

void ToolLaunchers::OpenOnlineHelp()
{
    const std::optional<std::filesystem::path> page = FindOnlineHelp(m_programFolder);
    if (!page) {
        m_notifier.ShowMessage("Vorlund Online Help page does not exist.", kPlainCaption);
        return;
    }
    OpenDocumentOrSay(m_desktop, m_notifier, *page);
}

std::optional<std::filesystem::path>
ToolLaunchers::FindProgram(std::string_view name, const std::filesystem::path &workingFolder,
                           const std::filesystem::path &programFolder)
{
    const std::filesystem::path candidates[] = {
        workingFolder / name,
        programFolder / name,
        programFolder.parent_path() / name / name,
    };
    for (const std::filesystem::path &p : candidates)
        if (!p.parent_path().empty() && IsProgram(p))
            return p;
    return std::nullopt;
}

void ToolLaunchers::ViewErrorLog()
{
    const std::filesystem::path log = m_workingFolder / kErrorLogFileName;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(log, ec)) {
        m_notifier.ShowMessage("Vorlund Log file does not exist.", kPlainCaption);
        return;
    }
    OpenDocumentOrSay(m_desktop, m_notifier, log);
}

void ToolLaunchers::RunRepairUtility()
{
    Run(kRepairProgram, "Vorlund Mendrel.exe file does not exist.");
}

void ToolLaunchers::RunServanto()
{
    Run(kServiceProgram, "Servanto.exe does not exist.");
}

void ToolLaunchers::Run(std::string_view name, std::string_view missingText)
{
    const std::optional<std::filesystem::path> program
        = FindProgram(name, m_workingFolder, m_programFolder);
    if (!program) {
        m_notifier.ShowMessage(missingText, kPlainCaption);
        return;
    }
    m_desktop.StartDetached(*program, m_workingFolder);
}

} // namespace vorlund
