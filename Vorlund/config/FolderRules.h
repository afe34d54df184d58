#pragma once

#include "Notifier.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace vorlund {

// A folder typed into a dialog holds at most this many bytes (the stored field less its zero).
inline constexpr size_t kMaxFolderBytes = 259;

// An absolute path ("/" alone is the root) whose components are neither empty (so no trailing
// "/" and no "//"), nor "." or "..", nor begin or end with a blank or tab; no NUL; at most
// kMaxFolderBytes bytes. Creates nothing.
bool IsValidFolderSyntax(std::string_view path);

enum class FolderOutcome {
    Accepted, // exists, or every missing level was created
    Declined, // the user did not want it created
    Invalid, // the syntax check failed (the user was told)
    NotCreated, // a level could not be created (the user was told)
};

// The folder picker's OK: checks the syntax, accepts an existing folder, and after a Yes
// creates every missing level in turn.
FolderOutcome AcceptBrowsedFolder(std::string_view path, INotifier &notifier);

// Removes trailing "/", blanks, "?" and "*"; the root "/" itself stays.
std::string StripFolderTail(std::string folder);

// The Configuration dialog's OK: a folder that breaks the rules above is refused; an existing
// one passes; a missing one is created, that one level only, after a Yes. Returns false when
// the dialog has to stay open (the user has been told why, except after a No).
bool OfferFolderCreation(const std::string &folder, INotifier &notifier);

} // namespace vorlund
