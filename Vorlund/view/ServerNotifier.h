#pragma once

#include "Notifier.h"

#include <set>
#include <string>

class QWidget;

namespace vorlund {

// The server's message boxes. Messages never block: the ticks and the capture go on while a
// box is open, and a text (or a message of a kind) already on screen is not opened a second
// time. Questions are modal and
// are only asked from command handlers.
class ServerNotifier : public INotifier
{
public:
    explicit ServerNotifier(QWidget *parent = nullptr) : m_parent(parent) { }
    void SetParent(QWidget *parent) { m_parent = parent; }

    void ShowMessage(std::string_view text, std::string_view caption) override;
    bool AskYesNo(std::string_view text, std::string_view caption) override;
    void ShowMessageOfKind(std::string_view kind, std::string_view text,
                           std::string_view caption) override;

    size_t OpenCount() const { return m_open.size(); }

private:
    // Opens a box unless one with this key is open.
    void Open(std::string key, std::string_view text, std::string_view caption);

    QWidget *m_parent;
    std::set<std::string> m_open;
};

} // namespace vorlund
