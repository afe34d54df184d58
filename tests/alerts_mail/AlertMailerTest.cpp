// The mailer against a real SMTP server on loopback.

#include "AlertMailer.h"
#include "MainTick.h"
#include "ServerFixture.h"
#include "SmtpTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

using namespace vorlund;
using test::SmtpTestServer;

namespace {

// Records posted messages and lets the test wait for one, as the view's event loop would.
class WaitingSink : public IMessageSink
{
public:
    using IMessageSink::PostMessage;
    void PostMessage(uint32_t message, uintptr_t) noexcept override
    {
        {
            std::lock_guard lock(m_lock);
            m_posted.push_back(message);
        }
        m_changed.notify_all();
    }
    int Count(uint32_t message) const
    {
        std::lock_guard lock(m_lock);
        return int(std::count(m_posted.begin(), m_posted.end(), message));
    }
    // A bound against hangs, not a measurement.
    bool WaitFor(uint32_t message, int count) const
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(60), [&] {
            return std::count(m_posted.begin(), m_posted.end(), message) >= count;
        });
    }

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<uint32_t> m_posted;
};

std::string PictureBytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(i < 256 ? i : seed >> 24); // every byte value, then noise
    }
    return bytes;
}

constexpr const char *kFrom = "Vorlund Camera <camera@vorlund.test>";
constexpr const char *kTo = "owner@vorlund.test";

class AlertMailerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Start());
        f.settings.Config.MailFrom = kFrom;
        f.settings.Config.MailTo = kTo;
        f.settings.Config.SmtpServer = server.Address();
        f.settings.Config.Block.AttachPicture = 1;
        MakeMailer({});
    }

    void MakeMailer(SmtpTimeouts timeouts)
    {
        mailer.reset();
        mailer = std::make_unique<AlertMailer>(context, timeouts);
        mailer->SendAlertMail(-1);
    }

    std::filesystem::path WritePicture(const std::string &name, const std::string &bytes)
    {
        const auto path = f.view.VideoFolder / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path;
    }

    // Sends what is pending and lets the worker finish, as the view does on WM_MAIL_DONE.
    // False when nothing was sent.
    bool SendAndFinish()
    {
        const int done = sink.Count(WM_MAIL_DONE);
        mailer->SendAlertMail(0);
        if (!mailer->IsBusy())
            return false;
        EXPECT_TRUE(sink.WaitFor(WM_MAIL_DONE, done + 1));
        mailer->OnMailDone();
        EXPECT_FALSE(mailer->IsBusy());
        return true;
    }

    std::vector<std::string> Shown() const
    {
        std::vector<std::string> texts;
        for (const auto &e : f.notifier.entries)
            texts.push_back(e.text);
        return texts;
    }

    test::ServerFixture f;
    WaitingSink sink;
    ServerContext context { f.engine, f.view, f.settings, f.profile, f.clock, f.notifier,
                            f.log,    sink,   f.timers,   f.shell,   f.sound };
    SmtpTestServer server { f.folder.path / "smtp" };
    std::unique_ptr<AlertMailer> mailer;
};

TEST_F(AlertMailerTest, AlertArrivesWithTheSnapshotByteForByte)
{
    const std::string bytes = PictureBytes(70001, 7);
    mailer->QueueAlert(2, WritePicture("p007.jpg", bytes));
    ASSERT_TRUE(SendAndFinish());

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    auto m = messages[0];
    EXPECT_EQ(m["subject"], "\"Motion on Camera 2\"");
    EXPECT_EQ(m["from"], kFrom);
    EXPECT_EQ(m["to"], kTo);
    EXPECT_EQ(m["envelope-from"], "camera@vorlund.test");
    EXPECT_EQ(m["envelope-to"], kTo);
    EXPECT_EQ(m["date-parses"], "1");
    EXPECT_NE(m["message-id"].find("@vorlund.test>"), std::string::npos);
    EXPECT_EQ(m["defects"], "0");
    ASSERT_EQ(m["attachments"], "1");
    EXPECT_EQ(m["attachment-1"], "001-1.bin image/jpeg p007.jpg");
    EXPECT_TRUE(server.ReadBytes("001-1.bin") == bytes);
    EXPECT_TRUE(Shown().empty());
}

TEST_F(AlertMailerTest, TwoAlertsBeforeASendMakeOneMailWithTheSecond)
{
    const std::string second = PictureBytes(5000, 2);
    mailer->QueueAlert(1, WritePicture("p001.jpg", PictureBytes(4000, 1)));
    mailer->QueueAlert(3, WritePicture("p002.jpg", second));
    ASSERT_TRUE(SendAndFinish());
    EXPECT_FALSE(SendAndFinish()); // nothing left

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    auto m = messages[0];
    EXPECT_EQ(m["subject"], "\"Motion on Camera 3\"");
    EXPECT_EQ(m["attachment-1"], "001-1.bin image/jpeg p002.jpg");
    EXPECT_TRUE(server.ReadBytes("001-1.bin") == second);
}

// The other mails: what is queued, and what arrives.
TEST_F(AlertMailerTest, EachKindOfMailArrivesAsQueued)
{
    const auto picture = WritePicture("p003.jpg", PictureBytes(300, 3));
    struct Case
    {
        const char *name;
        std::function<void()> queue;
        std::string subject, from, to, body, attachments;
    };
    const TestMailValues dialog { "Dialog <dialog@vorlund.test>", server.Address(),
                                  "tester@vorlund.test" };
    const Case cases[] = {
        { "low disk", [&] { mailer->QueueLowDiskMail(5); }, "\"Vorlund Disk Space Low \"", kFrom,
          kTo, "\"Available Disk space is 5% or less.\\nPlease free disk space.\\n\"", "0" },
        { "alert with attachments off",
          [&] {
              f.settings.Config.Block.AttachPicture = 0;
              mailer->QueueAlert(4, picture);
          },
          "\"Motion on Camera 4\"", kFrom, kTo, "\"\"", "0" },
        // A picture gone before the send: the alert still goes, and the log says why.
        { "alert whose picture is gone",
          [&] {
              f.settings.Config.Block.AttachPicture = 1;
              mailer->QueueAlert(2, f.view.VideoFolder / "gone.jpg");
          },
          "\"Motion on Camera 2\"", kFrom, kTo, "\"\"", "0" },
        // The stored server is unreachable: the dialog's own is used. The alert's picture,
        // with attachments on again, is never carried into the test mail.
        { "test mail replacing an alert",
          [&] {
              f.settings.Config.Block.AttachPicture = 1;
              f.settings.Config.SmtpServer = "127.0.0.1:1";
              mailer->QueueAlert(1, picture);
              mailer->SendTestMail(dialog);
          },
          "\"Test Email from Vorlund \"", dialog.MailFrom, dialog.MailTo, "\"\"", "0" },
    };
    size_t expected = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int done = sink.Count(WM_MAIL_DONE);
        c.queue();
        if (!mailer->IsBusy())
            mailer->SendAlertMail(0);
        ASSERT_TRUE(sink.WaitFor(WM_MAIL_DONE, done + 1));
        mailer->OnMailDone();
        const auto messages = server.Messages();
        ASSERT_EQ(messages.size(), ++expected);
        auto m = messages.back();
        EXPECT_EQ(m["subject"], c.subject);
        EXPECT_EQ(m["from"], c.from);
        EXPECT_EQ(m["to"], c.to);
        EXPECT_EQ(m["body"], c.body);
        EXPECT_EQ(m["attachments"], c.attachments);
    }
    std::ifstream log(f.log.Path());
    const std::string logged((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(logged.find("email picture not attached: "), std::string::npos) << logged;
    // The test mail left the stored settings as they were.
    EXPECT_EQ(f.settings.Config.MailFrom, kFrom);
    EXPECT_EQ(f.settings.Config.MailTo, kTo);
    EXPECT_EQ(f.settings.Config.SmtpServer, "127.0.0.1:1");
    EXPECT_TRUE(Shown().empty());
}

// Every failure reaches the user once and frees the mailer: the next mail goes through.
TEST_F(AlertMailerTest, AFailedSendIsShownAndTheNextMailGoesThrough)
{
    MakeMailer({ 30000, 1, 60000 }); // a held DATA fails after a second
    struct Case
    {
        const char *name;
        std::function<void()> fail; // makes the next send fail
        std::function<void()> mend; // makes sends work again
        const char *shown; // part of the text shown
    };
    uint16_t port = 0;
    const Case cases[] = {
        { "server down",
          [&] {
              port = server.Port();
              server.Stop();
          },
          [&] { ASSERT_TRUE(server.Start(port)); }, "Problem sending email...\n" },
        { "recipient refused", [&] { f.settings.Config.MailTo = "refuse@vorlund.test"; },
          [&] { f.settings.Config.MailTo = kTo; }, "550" },
        { "server stalls", [&] { server.SetStall(true); }, [&] { server.SetStall(false); },
          "Problem sending email...\n" },
        // The server's own reply line says why.
        { "message refused at DATA",
          [&] { server.SetDataReply("550 5.7.1 Message refused: attachment policy"); },
          [&] { server.SetDataReply(""); },
          "\nThe server replied: 550 5.7.1 Message refused: attachment policy" },
    };
    size_t delivered = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        f.notifier.entries.clear();
        c.fail();
        mailer->QueueLowDiskMail(4);
        ASSERT_TRUE(SendAndFinish());
        ASSERT_EQ(Shown().size(), 1u);
        EXPECT_EQ(Shown()[0].rfind("Problem sending email...\n", 0), 0u);
        EXPECT_GT(Shown()[0].size(), std::string("Problem sending email...\n").size());
        EXPECT_NE(Shown()[0].find(c.shown), std::string::npos) << Shown()[0];

        c.mend();
        mailer->QueueAlert(1, WritePicture("p001.jpg", "jpeg"));
        ASSERT_TRUE(SendAndFinish());
        EXPECT_EQ(Shown().size(), 1u);
        // The alerts that arrived; a held low-disk mail may still be kept once it is let go.
        size_t alerts = 0;
        for (const auto &m : server.Messages())
            alerts += m.at("subject") == "\"Motion on Camera 1\"";
        EXPECT_EQ(alerts, ++delivered);
    }
}

// The main tick hands the mail over and runs on while the server holds it; the next alert
// waits for the first to finish and then goes.
TEST_F(AlertMailerTest, TheTickRunsOnWhileTheServerStalls)
{
    MainTick tick(context, f.topics, f.topics, f.topics, f.topics, f.topics, *mailer, f.topics,
                  f.topics);
    f.engine.SwitchBusy = 1;
    f.engine.SwitchTime = f.clock.TickCount();
    f.engine.SettleTime = 1000000;
    server.SetStall(true);

    mailer->QueueAlert(1, WritePicture("p001.jpg", PictureBytes(1000, 1)));
    tick.OnMainTick();
    EXPECT_TRUE(mailer->IsBusy());
    ASSERT_TRUE(server.WaitStalled()); // the tick returned; the server holds the mail

    mailer->QueueAlert(4, WritePicture("p002.jpg", PictureBytes(1000, 2)));
    for (int i = 0; i < 200; ++i) {
        f.clock.Advance(15);
        tick.OnMainTick();
    }
    EXPECT_TRUE(mailer->IsBusy());
    EXPECT_TRUE(mailer->IsPending());
    EXPECT_EQ(sink.Count(WM_MAIL_DONE), 0);
    EXPECT_TRUE(server.Messages().empty());

    server.SetStall(false);
    ASSERT_TRUE(sink.WaitFor(WM_MAIL_DONE, 1));
    mailer->OnMailDone();
    tick.OnMainTick(); // the second goes out on the first tick after
    ASSERT_TRUE(sink.WaitFor(WM_MAIL_DONE, 2));
    mailer->OnMailDone();

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].at("subject"), "\"Motion on Camera 1\"");
    EXPECT_EQ(messages[1].at("subject"), "\"Motion on Camera 4\"");
    EXPECT_TRUE(Shown().empty());
}

// Shutting down during a held send ends it and reports to nobody.
TEST_F(AlertMailerTest, ShutdownEndsAHeldSend)
{
    server.SetStall(true);
    mailer->QueueLowDiskMail(3);
    mailer->SendAlertMail(0);
    ASSERT_TRUE(server.WaitStalled());
    mailer.reset();
    EXPECT_EQ(sink.Count(WM_MAIL_DONE), 0);
}

// Line breaks and NULs in a field never reach the server; the user is told.
TEST_F(AlertMailerTest, FieldsWithLineBreaksAreRefused)
{
    struct Case
    {
        const char *name;
        std::function<void()> spoil;
        const char *shown;
    };
    const Case cases[] = {
        { "From", [&] { f.settings.Config.MailFrom = "a@b.test\r\nBcc: x@y.test"; },
          "email From holds a line break or NUL character." },
        { "To", [&] { f.settings.Config.MailTo = "owner@vorlund.test\nBcc: x@y.test"; },
          "email To holds a line break or NUL character." },
        { "server", [&] { f.settings.Config.SmtpServer = server.Address() + std::string(1, '\0'); },
          "smtp server holds a line break or NUL character." },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        f.notifier.entries.clear();
        c.spoil();
        mailer->QueueAlert(2, WritePicture("p001.jpg", "jpeg"));
        EXPECT_FALSE(SendAndFinish());
        EXPECT_FALSE(mailer->IsPending());
        ASSERT_EQ(Shown().size(), 1u);
        EXPECT_EQ(Shown()[0], std::string("Problem sending email...\n") + c.shown);
        f.settings.Config.MailFrom = kFrom;
        f.settings.Config.MailTo = kTo;
        f.settings.Config.SmtpServer = server.Address();
    }
    mailer->QueueLowDiskMail(5);
    ASSERT_TRUE(SendAndFinish());
    EXPECT_EQ(server.Messages().size(), 1u); // only the good one ever arrived
}

// A mail waits while it has no recipient or the mailer is not readied, and then goes.
TEST_F(AlertMailerTest, AMailWithoutRecipientWaits)
{
    mailer = std::make_unique<AlertMailer>(context); // not readied yet
    mailer->QueueAlert(1, WritePicture("p001.jpg", "jpeg"));
    EXPECT_FALSE(SendAndFinish());
    mailer->SendAlertMail(-1);
    f.settings.Config.MailTo.clear();
    EXPECT_FALSE(SendAndFinish());
    EXPECT_TRUE(mailer->IsPending());
    f.settings.Config.MailTo = kTo;
    EXPECT_TRUE(SendAndFinish());
    EXPECT_EQ(server.Messages().size(), 1u);
    EXPECT_TRUE(Shown().empty());
}

} // namespace
