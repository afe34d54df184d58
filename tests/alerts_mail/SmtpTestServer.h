#pragma once

// The loopback SMTP server of smtp_test_server.py, started and stopped by a test.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vorlund::test {

class SmtpTestServer
{
public:
    // One received message as the server's MIME parser read it ("subject", "from", "body",
    // "attachment-1", ...).
    using Message = std::map<std::string, std::string>;

    explicit SmtpTestServer(std::filesystem::path folder);
    ~SmtpTestServer();
    SmtpTestServer(const SmtpTestServer &) = delete;
    SmtpTestServer &operator=(const SmtpTestServer &) = delete;

    // Port 0 takes a free one. False when the server did not come up.
    bool Start(uint16_t port = 0);
    // Kills the server; its port is free again when this returns.
    void Stop();

    uint16_t Port() const { return m_port; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    const std::filesystem::path &Folder() const { return m_folder; }

    // While on, the server holds every DATA without an answer.
    void SetStall(bool on);
    // While `reply` is not empty, the server answers every DATA with it ("550 ...").
    void SetDataReply(const std::string &reply);
    // Waits until the server holds a DATA. False after a generous bound.
    bool WaitStalled() const;

    std::vector<Message> Messages() const;
    // The bytes of a file the server wrote ("001-1.bin").
    std::string ReadBytes(const std::string &name) const;

private:
    std::filesystem::path m_folder;
    pid_t m_pid = -1;
    uint16_t m_port = 0;
};

} // namespace vorlund::test
