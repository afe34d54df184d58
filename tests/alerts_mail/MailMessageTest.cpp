#include "MailMessage.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace vorlund;

TEST(MailMessage, ParseSmtpServer)
{
    struct Case
    {
        std::string_view text;
        std::optional<SmtpEndpoint> expected;
    };
    const Case cases[] = {
        { "", SmtpEndpoint { "localhost", 25 } },
        { "  ", SmtpEndpoint { "localhost", 25 } },
        { "mail.example.com", SmtpEndpoint { "mail.example.com", 25 } },
        { " smtp-1.example.com:587 ", SmtpEndpoint { "smtp-1.example.com", 587 } },
        { "[::1]:2525", SmtpEndpoint { "::1", 2525 } },
        { "[fe80::1]", SmtpEndpoint { "fe80::1", 25 } },
        { "127.0.0.1:65535", SmtpEndpoint { "127.0.0.1", 65535 } },
        { "host:0", std::nullopt },
        { "host:65536", std::nullopt },
        { "host:", std::nullopt },
        { "host:25x", std::nullopt },
        { "host:+25", std::nullopt },
        { "a b", std::nullopt },
        { "host/path", std::nullopt },
        { "user@host", std::nullopt },
        { "host?x", std::nullopt },
        { "::1", std::nullopt },
        { "[::1", std::nullopt },
        { "[host]:25", std::nullopt },
        { "[::1]x", std::nullopt },
        { ":25", std::nullopt },
        { std::string_view("host\0", 5), std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(ParseSmtpServer(c.text), c.expected);
    }
    EXPECT_EQ(SmtpUrl({ "mail.example.com", 25 }), "smtp://mail.example.com:25/");
    EXPECT_EQ(SmtpUrl({ "::1", 2525 }), "smtp://[::1]:2525/");
}

TEST(MailMessage, EnvelopeAddress)
{
    const std::pair<std::string_view, std::optional<std::string>> cases[] = {
        { "a@b.test", "a@b.test" },
        { " a@b.test ", "a@b.test" },
        { "Camera One <cam@b.test>", "cam@b.test" },
        { "<cam@b.test>", "cam@b.test" },
        { "", "" },
        { "a b@c.test", std::nullopt },
        { "Name <a@b.test", std::nullopt },
        { "Name <a@b.test> x", std::nullopt },
        { "a@b.test>", std::nullopt },
        { "a\t@b.test", std::nullopt },
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(std::string(text));
        EXPECT_EQ(EnvelopeAddress(text), expected);
    }
}

TEST(MailMessage, CheckMailFields)
{
    struct Case
    {
        std::string from, to, subject, server;
        std::optional<std::string> problem;
    };
    const std::string nul(1, '\0');
    const Case cases[] = {
        { "a@b.test", "c@d.test", "Motion on Camera 1", "", std::nullopt },
        { "", "c@d.test", "s", "mail:25", std::nullopt },
        { "a@b.test\r\nBcc: e@f.test", "c@d.test", "s", "",
          "email From holds a line break or NUL character." },
        { "a@b.test", "c@d.test\n", "s", "", "email To holds a line break or NUL character." },
        { "a@b.test", "c@d.test", "s\rX: y", "",
          "The subject holds a line break or NUL character." },
        { "a@b.test", "c@d.test", "s", "mail" + nul,
          "smtp server holds a line break or NUL character." },
        { "a@b.test", std::string(300, 'c'), "s", "", "email To is too long." },
        { "a@b.test", " ", "s", "", "email To must contain a valid email address." },
        { "a@b.test", "c d@e.test", "s", "", "email To must contain a valid email address." },
        { "a b@c.test", "c@d.test", "s", "", "email From is not a valid email address." },
        { "a@b.test", "c@d.test", "s", "mail:99999",
          "smtp server must be a host name, optionally followed by :port." },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.from + " / " + c.to + " / " + c.server);
        EXPECT_EQ(CheckMailFields(c.from, c.to, c.subject, c.server), c.problem);
    }
}

TEST(MailMessage, Base64Lines)
{
    const std::pair<std::string, std::string> cases[] = {
        { "", "" },
        { "f", "Zg==\r\n" },
        { "fo", "Zm8=\r\n" },
        { "foo", "Zm9v\r\n" },
        { "foobar", "Zm9vYmFy\r\n" },
        { std::string("\xff\x00\xfe", 3), "/wD+\r\n" },
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Base64Lines(cases[i].first), cases[i].second) << i;
    // 57 bytes make one full line of 76 characters; one more byte starts a second line.
    const std::string full = Base64Lines(std::string(57, 'a'));
    ASSERT_EQ(full.size(), 78u);
    EXPECT_EQ(full.substr(76), "\r\n");
    const std::string more = Base64Lines(std::string(58, 'a'));
    EXPECT_EQ(more.substr(78), "YQ==\r\n");
}

TEST(MailMessage, ComposeUsesCrlfAndPutsTheHeadersFirst)
{
    const MailHeaders headers { "Cam <a@b.test>", "c@d.test", "Vorlund Disk Space Low ",
                                "Thu, 01 Jan 1970 00:00:00 +0000", "id@b.test" };
    const std::string text = ComposeMessage(headers, "one\ntwo\r\nthree\rfour", nullptr, "");
    EXPECT_EQ(text,
              "Date: Thu, 01 Jan 1970 00:00:00 +0000\r\n"
              "From: Cam <a@b.test>\r\n"
              "To: c@d.test\r\n"
              "Subject: Vorlund Disk Space Low \r\n"
              "Message-ID: <id@b.test>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Content-Transfer-Encoding: 8bit\r\n"
              "\r\n"
              "one\r\ntwo\r\nthree\r\nfour\r\n");

    MailHeaders noSender = headers;
    noSender.From.clear();
    const MailAttachment picture { "p001.jpg", "abc" };
    const std::string mixed = ComposeMessage(noSender, "", &picture, "=_b");
    EXPECT_EQ(mixed.find("From:"), std::string::npos);
    EXPECT_NE(mixed.find("Content-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n--=_b\r\n"),
              std::string::npos);
    EXPECT_NE(mixed.find("filename=\"p001.jpg\"\r\n\r\nYWJj\r\n--=_b--\r\n"), std::string::npos);
}

TEST(MailMessage, NamesAndDates)
{
    EXPECT_EQ(AttachmentFileName("/v/cam1/p001.jpg"), "p001.jpg");
    EXPECT_EQ(AttachmentFileName("/v/a b\"c;.jpg"), "a_b_c_.jpg");
    EXPECT_EQ(AttachmentFileName(""), "picture.jpg");

    EXPECT_EQ(MakeMessageId(0, 0xab, "cam@vorlund.test"),
              "19700101000000.00000000000000ab@vorlund.test");
    EXPECT_EQ(MakeMessageId(0, 1, ""), "19700101000000.0000000000000001@vorlund.localdomain");
    EXPECT_EQ(MakeMessageId(0, 1, "a@b c"), "19700101000000.0000000000000001@vorlund.localdomain");

    const char *old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    const std::pair<const char *, const char *> zones[] = {
        { "UTC0", "Thu, 01 Jan 1970 00:00:00 +0000" },
        { "XXX-2", "Thu, 01 Jan 1970 02:00:00 +0200" },
        { "XXX+5:30", "Wed, 31 Dec 1969 18:30:00 -0530" },
    };
    for (const auto &[zone, expected] : zones) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(FormatMailDate(0), expected) << zone;
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
