#include "FolderRules.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace vorlund {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsValidComponent(std::string_view part)
{
    if (part.empty() || part == "." || part == "..")
        return false;
    return !IsBlank(part.front()) && !IsBlank(part.back());
}

bool IsFolder(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

std::string WithPath(const char *format, std::string_view path)
{
    std::vector<char> text(std::string_view(format).size() + path.size() + 1);
    std::snprintf(text.data(), text.size(), format, std::string(path).c_str());
    return text.data();
}

constexpr const char *kInvalidFolder = "The folder:\n\n%s\n\nis invalid. Please reenter.";
constexpr const char *kCannotCreate
    = "The folder:\n\n%s\n\ncan not be created. Please double check.";
constexpr const char *kCreateQuestion
    = "The folder:\n\n%s\n\ndoes not exist. Do you want the folder to be created?";

} // namespace

bool IsValidFolderSyntax(std::string_view path)
{
    if (path.empty() || path.size() > kMaxFolderBytes || path.front() != '/')
        return false;
    if (path.find('\0') != std::string_view::npos)
        return false;
    if (path == "/")
        return true;
    size_t start = 1;
    while (true) {
        const size_t slash = path.find('/', start);
        const std::string_view part
            = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
        if (!IsValidComponent(part))
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

FolderOutcome AcceptBrowsedFolder(std::string_view path, INotifier &notifier)
{
    if (!IsValidFolderSyntax(path)) {
        notifier.ShowMessage(WithPath(kInvalidFolder, path), kPlainCaption);
        return FolderOutcome::Invalid;
    }
    const std::string folder(path);
    if (IsFolder(folder))
        return FolderOutcome::Accepted;
    if (!notifier.AskYesNo(WithPath(kCreateQuestion, path), kPlainCaption))
        return FolderOutcome::Declined;
    // Level by level, so a refusal is reported at the first level that cannot exist.
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string level = folder.substr(0, slash);
        std::error_code ec;
        std::filesystem::create_directory(level, ec);
        if (!IsFolder(level)) {
            notifier.ShowMessage(WithPath(kCannotCreate, path), kPlainCaption);
            return FolderOutcome::NotCreated;
        }
        if (slash == std::string::npos)
            return FolderOutcome::Accepted;
    }
}

std::string StripFolderTail(std::string folder)
{
    while (folder.size() > 1) {
        const char c = folder.back();
        if (c != '/' && c != ' ' && c != '?' && c != '*')
            break;
        folder.pop_back();
    }
    return folder;
}

bool OfferFolderCreation(const std::string &folder, INotifier &notifier)
{
    if (!IsValidFolderSyntax(folder)) {
        notifier.ShowMessage(WithPath(kInvalidFolder, folder), kPlainCaption);
        return false;
    }
    if (IsFolder(folder))
        return true;
    if (!notifier.AskYesNo(WithPath("%s does not exist.\nCreate it?\n", folder), kPlainCaption))
        return false;
    std::error_code ec;
    // One level only: a missing parent is the user's to fix, or the picker's to create.
    if (std::filesystem::create_directory(folder, ec) && IsFolder(folder))
        return true;
    notifier.ShowMessage("Failed to create directory.\nPlease select again.\n", kPlainCaption);
    return false;
}

} // namespace vorlund
