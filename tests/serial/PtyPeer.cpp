#include "PtyPeer.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vorlund::test {

int PtyOutputBaud(int fd);

PtyPeer::PtyPeer(Responder reply) : m_reply(std::move(reply))
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) == 0) {
        // The program gets a name of this peer's own, gone before the pair closes: the kernel
        // hands a closed pair's /dev/pts number to the next pair at once, so a port mapping
        // that outlives its peer would otherwise reach another test's pseudo-terminal.
        std::string link = (std::filesystem::temp_directory_path() / "vorlund-pty-XXXXXX").string();
        if (char *folder = mkdtemp(link.data())) {
            m_linkFolder = folder;
            m_slavePath = (m_linkFolder / "tty").string();
            std::error_code ec;
            std::filesystem::create_symlink(name, m_slavePath, ec);
            if (ec)
                m_slavePath = name;
        } else {
            m_slavePath = name;
        }
        termios raw {};
        tcgetattr(m_slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(m_slave, TCSANOW, &raw);
        m_thread = std::thread([this] { Run(); });
    }
}

PtyPeer::~PtyPeer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (!m_linkFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_linkFolder, ec);
    }
    if (m_slave >= 0)
        close(m_slave);
    if (m_master >= 0)
        close(m_master);
}

void PtyPeer::Run()
{
    std::vector<uint8_t> pending;
    while (!m_stop) {
        pollfd p { m_master, POLLIN, 0 };
        if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        uint8_t buffer[256];
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        {
            std::lock_guard lock(m_lock);
            m_received.insert(m_received.end(), buffer, buffer + n);
            // The line as the program had set it when it first spoke (it waits for the answer,
            // so its end is still open).
            if (m_baud < 0) {
                m_baud = LineBaud();
                m_8n1 = Line8N1();
            }
        }
        m_arrived.notify_all();
        pending.insert(pending.end(), buffer, buffer + n);
        const std::vector<uint8_t> answer = m_reply(pending);
        if (!answer.empty() && write(m_master, answer.data(), answer.size()) < 0)
            return;
    }
}

std::vector<uint8_t> PtyPeer::Received() const
{
    std::lock_guard lock(m_lock);
    return m_received;
}

std::vector<uint8_t> PtyPeer::WaitForReceived(size_t count) const
{
    std::unique_lock lock(m_lock);
    m_arrived.wait_for(lock, std::chrono::seconds(10), [&] { return m_received.size() >= count; });
    return m_received;
}

void PtyPeer::Send(const std::vector<uint8_t> &bytes)
{
    if (write(m_master, bytes.data(), bytes.size()) < 0)
        return;
}

int PtyPeer::LineBaud() const
{
    return PtyOutputBaud(m_slave);
}

bool PtyPeer::Line8N1() const
{
    termios t {};
    tcgetattr(m_slave, &t);
    return (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB) && !(t.c_cflag & CSTOPB);
}

} // namespace vorlund::test

namespace vorlund::test {

int PtyPeer::Baud() const
{
    std::lock_guard lock(m_lock);
    return m_baud;
}

bool PtyPeer::Is8N1() const
{
    std::lock_guard lock(m_lock);
    return m_8n1;
}

} // namespace vorlund::test
