#pragma once

#include "Notifier.h"

#include <filesystem>
#include <string>

namespace vorlund {

// How the programs reach the desktop; tests record instead.
class IDesktop
{
public:
    virtual ~IDesktop() = default;
    // Opens a document with the user's program for it; false when there is none.
    virtual bool OpenDocument(const std::filesystem::path &file) = 0;
    // Starts a program with no arguments, without waiting, in `workingFolder`.
    virtual bool StartDetached(const std::filesystem::path &program,
                               const std::filesystem::path &workingFolder)
        = 0;
};

class QtDesktop : public IDesktop
{
public:
    bool OpenDocument(const std::filesystem::path &file) override;
    bool StartDetached(const std::filesystem::path &program,
                       const std::filesystem::path &workingFolder) override;
};

// What the box says when the desktop has no program for a file.
std::string NoOpenerText(const std::filesystem::path &file);

// Opens the file; when the desktop cannot, a box names the file. Returns whether it opened.
bool OpenDocumentOrSay(IDesktop &desktop, INotifier &notifier, const std::filesystem::path &file);

} // namespace vorlund
