#include "CIdentify.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace vorlund {
namespace {

TEST(CIdentify, OpensWithoutBlockingAndHandsBackTheCredentials)
{
    struct
    {
        const char *button;
        QString typedLogin;
        int result;
        QString login;
    } cases[] = {
        { "1", "me@example.org", QDialog::Accepted, "me@example.org" },
        { "1", QString(80, 'a'), QDialog::Accepted, QString(51, 'a') },
        { "2", "someone", QDialog::Rejected, "old@example.org" },
    };
    for (const auto &c : cases) {
        CIdentify dialog;
        dialog.m_Login = "old@example.org";
        dialog.m_Password = "old";
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.open();
        auto *login = dialog.findChild<QLineEdit *>("1000");
        auto *password = dialog.findChild<QLineEdit *>("1001");
        ASSERT_TRUE(login && password);
        EXPECT_EQ(login->text(), "old@example.org");
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        login->clear();
        QTest::keyClicks(login, c.typedLogin);
        password->clear();
        QTest::keyClicks(password, "new secret");
        QTest::mouseClick(dialog.findChild<QPushButton *>(c.button), Qt::LeftButton);
        ASSERT_EQ(finished.count(), 1);
        EXPECT_EQ(finished.at(0).at(0).toInt(), c.result);
        EXPECT_EQ(dialog.m_Login, c.login);
        EXPECT_EQ(dialog.m_Password, c.result == QDialog::Accepted ? "new secret" : "old");
    }
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

} // namespace
} // namespace vorlund
