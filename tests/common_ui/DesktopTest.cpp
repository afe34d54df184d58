#include "Desktop.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlund {
namespace {

// An opener is a script here, so each test decides how it ends.
class DesktopTest : public ::testing::Test
{
protected:
    QString Opener(const std::string &body)
    {
        const std::string path = dir.filePath("opener").toStdString();
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
        return QString::fromStdString(path);
    }
    std::filesystem::path Document() const { return dir.filePath("vorlund.log").toStdString(); }

    QTemporaryDir dir;
    RecordingNotifier notifier;
};

// However the opener ends, the box says what it says when there is no opener, and only then.
TEST_F(DesktopTest, AnOpenerThatFailsGetsTheNoProgramBox)
{
    const struct
    {
        const char *body;
        bool boxed;
    } cases[] = {
        { "exit 4", true }, // xdg-open: no program for the type
        { "exit 3", true },
        { "sleep 0.1; exit 4", true }, // after a while, as when a viewer ran in the foreground
        { "exit 0", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        notifier.entries.clear();
        const QString marker = dir.filePath("done");
        QFile::remove(marker);
        QtDesktop desktop(Opener("(" + std::string(c.body) + "); code=$?; : > "
                                 + marker.toStdString() + "; exit $code"));
        // The marker is written last, so no-box cases know the opener has ended.
        ASSERT_TRUE(OpenDocumentOrSay(desktop, notifier, Document()));
        EXPECT_TRUE(notifier.entries.empty()); // the UI thread did not wait
        if (c.boxed) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier.entries.empty(); }, 20000));
            EXPECT_EQ(notifier.entries[0].text, NoOpenerText(Document()));
            EXPECT_EQ(notifier.entries[0].caption, "Vorlund");
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 20000));
        }
        // Each opener ends and is reported once.
        QTest::qWait(0);
        EXPECT_EQ(notifier.entries.size(), c.boxed ? 1u : 0u);
    }
}

TEST_F(DesktopTest, NoOpenerAtAllIsSaidAtOnce)
{
    QtDesktop desktop(dir.filePath("no-such-opener"));
    EXPECT_FALSE(OpenDocumentOrSay(desktop, notifier, Document()));
    ASSERT_EQ(notifier.entries.size(), 1u);
    EXPECT_EQ(notifier.entries[0].text, NoOpenerText(Document()));
}

// A viewer still open when the program ends keeps running, in a session of its own, and its
// end then says nothing.
TEST_F(DesktopTest, TheViewerOutlivesTheProgram)
{
    const QString pidFile = dir.filePath("viewer.pid");
    pid_t viewer = 0;
    {
        QtDesktop desktop(Opener("echo $$ > " + pidFile.toStdString() + ".tmp; mv "
                                 + pidFile.toStdString() + ".tmp " + pidFile.toStdString()
                                 + "; exec sleep 600"));
        ASSERT_TRUE(OpenDocumentOrSay(desktop, notifier, Document()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(pidFile); }, 20000));
        std::ifstream(pidFile.toStdString()) >> viewer;
        ASSERT_GT(viewer, 0);
        EXPECT_NE(::getsid(viewer), ::getsid(0));
    }
    EXPECT_EQ(::kill(viewer, 0), 0); // still there
    ::kill(viewer, SIGTERM);
    QTest::qWait(0);
    EXPECT_TRUE(notifier.entries.empty());
}

} // namespace
} // namespace vorlund
