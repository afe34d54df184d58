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
    std::string key(text);
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
