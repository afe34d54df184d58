#pragma once

#include "Notifier.h"

namespace vorlund {

// The program's message boxes, shown over the running modal dialog or the active window.
class QtNotifier : public INotifier
{
public:
    void ShowMessage(std::string_view text, std::string_view caption) override;
    bool AskYesNo(std::string_view text, std::string_view caption) override;
};

} // namespace vorlund
