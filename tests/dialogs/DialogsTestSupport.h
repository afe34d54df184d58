#pragma once

#include "IdleDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QStringList>

#include <gtest/gtest.h>

namespace vorlund::test {

template <typename T> T *Find(const QWidget &dialog, int id)
{
    T *w = dialog.findChild<T *>(QString::number(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
}

inline QLineEdit *Edit(const QWidget &d, int id)
{
    return Find<QLineEdit>(d, id);
}
inline QComboBox *Combo(const QWidget &d, int id)
{
    return Find<QComboBox>(d, id);
}
inline QAbstractButton *Button(const QWidget &d, int id)
{
    return Find<QAbstractButton>(d, id);
}
inline bool Enabled(const QWidget &d, int id)
{
    const QWidget *w = d.findChild<QWidget *>(QString::number(id));
    EXPECT_NE(w, nullptr) << id;
    return w && w->isEnabled();
}

// Every dialog test leaves no window behind.
class DialogTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QStringList left;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible())
                left << QString::fromLatin1(w->metaObject()->className());
        EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    }
};

} // namespace vorlund::test
