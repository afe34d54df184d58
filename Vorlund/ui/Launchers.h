#pragma once

#include "Desktop.h"
#include "Notifier.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace vorlund {

inline constexpr std::string_view kErrorLogFileName = "vorlund.log";
inline constexpr std::string_view kRepairProgram = "Mendrel";
inline constexpr std::string_view kServiceProgram = "Servanto";
inline constexpr std::string_view kOnlineHelpPage = "README.md";

// The error log viewer, the repair tool and the service configuration program.
class ToolLaunchers
{
public:
    ToolLaunchers(std::filesystem::path workingFolder, std::filesystem::path programFolder,
                  INotifier &notifier, IDesktop &desktop);

    void ViewErrorLog();
    void RunRepairUtility();
    void RunServanto();
    // The online tutorial, opened with the user's viewer; a missing page gets a box.
    void OpenOnlineHelp();

    // The tutorial page beside the program (the build copies it there), or for an installed
    // program in lib/vorlund beside its bin folder.
    static std::optional<std::filesystem::path>
    FindOnlineHelp(const std::filesystem::path &programFolder);

    // A program is looked for in the working folder, then beside the server's executable,
    // then (in the build tree) in its own build folder next to the server's.
    static std::optional<std::filesystem::path>
    FindProgram(std::string_view name, const std::filesystem::path &workingFolder,
                const std::filesystem::path &programFolder);

private:
    void Run(std::string_view name, std::string_view missingText);

    std::filesystem::path m_workingFolder;
    std::filesystem::path m_programFolder;
    INotifier &m_notifier;
    IDesktop &m_desktop;
};

} // namespace vorlund
