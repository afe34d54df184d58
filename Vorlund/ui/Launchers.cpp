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
                             IDesktop &desktop, std::filesystem::path tutorialPage)
    : m_workingFolder(std::move(workingFolder)), m_programFolder(std::move(programFolder)),
      m_notifier(notifier), m_desktop(desktop), m_tutorialPage(std::move(tutorialPage))
{ }

void ToolLaunchers::OpenOnlineHelp()
{
    std::error_code ec;
    if (!m_tutorialPage.empty() && std::filesystem::is_regular_file(m_tutorialPage, ec))
        OpenDocumentOrSay(m_desktop, m_notifier, m_tutorialPage);
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
