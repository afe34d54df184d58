#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorlund {

// Every modal message the programs show goes through one of these, so that tests record
// the text instead of blocking on a box.
class INotifier
{
public:
    virtual ~INotifier() = default;
    virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
    virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;
    // A message of a kind whose texts vary (a count, a time): a notifier that keeps boxes open
    // shows no second box of that kind while one is open.
    virtual void ShowMessageOfKind(std::string_view kind, std::string_view text,
                                   std::string_view caption)
    {
        (void)kind;
        ShowMessage(text, caption);
    }
};

inline constexpr std::string_view kErrorBoxCaption = "Vorlund - Error!";
inline constexpr std::string_view kPlainCaption = "Vorlund";

inline void ShowErrorBox(INotifier &notifier, std::string_view text)
{
    notifier.ShowMessage(text, kErrorBoxCaption);
}

// Keeps every message; answers yes/no questions with a preset answer.
class RecordingNotifier : public INotifier
{
public:
    struct Entry
    {
        std::string text;
        std::string caption;
        bool question = false;
    };

    void ShowMessage(std::string_view text, std::string_view caption) override
    {
        entries.push_back({ std::string(text), std::string(caption), false });
    }
    bool AskYesNo(std::string_view text, std::string_view caption) override
    {
        entries.push_back({ std::string(text), std::string(caption), true });
        return answer;
    }

    std::vector<Entry> entries;
    bool answer = true;
};

} // namespace vorlund
