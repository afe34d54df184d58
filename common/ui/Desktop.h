#pragma once

#include "Notifier.h"

#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class QObject;

namespace vorlund {

// How the programs reach the desktop; tests record instead.
class IDesktop
{
public:
    virtual ~IDesktop() = default;
    // Opens a document with the user's program for it, without waiting for that program.
    // False when nothing could be started; `failed` runs later if the opener then reports
    // that it found no program (its own failure, whenever it comes).
    virtual bool OpenDocument(const std::filesystem::path &file, std::function<void()> failed) = 0;
    // Starts a program with no arguments, without waiting, in `workingFolder`.
    virtual bool StartDetached(const std::filesystem::path &program,
                               const std::filesystem::path &workingFolder)
        = 0;
};

class QtDesktop : public IDesktop
{
public:
    // `opener` is the desktop's document opener, found on the PATH.
    explicit QtDesktop(QString opener = QStringLiteral("xdg-open"));
    ~QtDesktop() override;

    bool OpenDocument(const std::filesystem::path &file, std::function<void()> failed) override;
    bool StartDetached(const std::filesystem::path &program,
                       const std::filesystem::path &workingFolder) override;

private:
    QString m_opener;
    std::unique_ptr<QObject> m_watches; // parent of the openers still running
};

// What the box says when the desktop has no program for a file.
std::string NoOpenerText(const std::filesystem::path &file);

// Opens the file; when the desktop cannot, now or later, a box names the file. Returns whether
// an opener started. The notifier must outlive the desktop.
bool OpenDocumentOrSay(IDesktop &desktop, INotifier &notifier, const std::filesystem::path &file);

} // namespace vorlund
