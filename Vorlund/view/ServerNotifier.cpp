#include "ServerNotifier.h"

#include <QMessageBox>

namespace vorlund {

namespace {

QString Text(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

void ServerNotifier::ShowMessage(std::string_view text, std::string_view caption)
{
    Open(std::string(text), text, caption);
}

void ServerNotifier::ShowMessageOfKind(std::string_view kind, std::string_view text,
                                       std::string_view caption)
{
    // Kinds are keyed apart from texts: no text starts with a NUL.
    Open(std::string(1, '\0') + std::string(kind), text, caption);
}

void ServerNotifier::Open(std::string key, std::string_view text, std::string_view caption)
{
    if (!m_open.insert(key).second)
        return;
    auto *box = new QMessageBox(caption == kErrorBoxCaption ? QMessageBox::Critical
                                                            : QMessageBox::Information,
                                Text(caption), Text(text), QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, [this, key] { m_open.erase(key); });
    box->open();
}

bool ServerNotifier::AskYesNo(std::string_view text, std::string_view caption)
{
    return QMessageBox::question(m_parent, Text(caption), Text(text),
                                 QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

} // namespace vorlund
