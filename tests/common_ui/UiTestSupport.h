#pragma once

#include "HelpBalloon.h"

#include <QApplication>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace vorlund {

inline void FlushDeletes()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline std::vector<CHelpBalloon *> ShownBalloons()
{
    std::vector<CHelpBalloon *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *b = qobject_cast<CHelpBalloon *>(w); b && b->isVisible())
            found.push_back(b);
    return found;
}

// Every widget test leaves no window behind.
class UiTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (CHelpBalloon *b : ShownBalloons())
            b->close();
        FlushDeletes();
        QStringList left;
        for (QWidget *w : QApplication::topLevelWidgets())
            left << QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
        EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    }
};

} // namespace vorlund
