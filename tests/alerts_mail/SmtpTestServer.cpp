#include "SmtpTestServer.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef VORLUND_SMTP_TEST_SERVER
#error "VORLUND_SMTP_TEST_SERVER names the server script"
#endif

namespace vorlund::test {

namespace {

constexpr int kStartBoundMs = 30000;

} // namespace

SmtpTestServer::SmtpTestServer(std::filesystem::path folder) : m_folder(std::move(folder))
{
    std::filesystem::create_directories(m_folder);
}

SmtpTestServer::~SmtpTestServer()
{
    Stop();
}

bool SmtpTestServer::Start(uint16_t port)
{
    Stop();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const std::string folder = m_folder.string();
    const std::string portText = std::to_string(port);
    const char *argv[] = { "/usr/bin/python3", VORLUND_SMTP_TEST_SERVER, "--folder", folder.c_str(),
                           "--port",           portText.c_str(),         nullptr };
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        // The server dies with the test, even when the test crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(fds[1], STDOUT_FILENO);
        execv(argv[0], const_cast<char **>(argv));
        _exit(127);
    }
    close(fds[1]);
    m_pid = pid;

    std::string line;
    pollfd p { fds[0], POLLIN, 0 };
    while (line.find('\n') == std::string::npos && poll(&p, 1, kStartBoundMs) == 1) {
        char buffer[64];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, size_t(n));
    }
    close(fds[0]);
    const int parsed = std::atoi(line.c_str());
    if (line.find('\n') == std::string::npos || parsed <= 0 || parsed > 65535) {
        Stop();
        return false;
    }
    m_port = uint16_t(parsed);
    return true;
}

void SmtpTestServer::Stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

void SmtpTestServer::SetStall(bool on)
{
    std::error_code ec;
    std::filesystem::remove(m_folder / "stalled", ec);
    if (on)
        std::ofstream(m_folder / "stall").put('1');
    else
        std::filesystem::remove(m_folder / "stall", ec);
}

void SmtpTestServer::SetDataReply(const std::string &reply)
{
    std::error_code ec;
    if (reply.empty())
        std::filesystem::remove(m_folder / "reject", ec);
    else
        std::ofstream(m_folder / "reject") << reply;
}

bool SmtpTestServer::WaitStalled() const
{
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(m_folder / "stalled")) {
        if (std::chrono::steady_clock::now() > bound)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<SmtpTestServer::Message> SmtpTestServer::Messages() const
{
    std::vector<Message> messages;
    for (int i = 1;; ++i) {
        char base[16];
        std::snprintf(base, sizeof base, "%03d", i);
        if (!std::filesystem::exists(m_folder / (std::string(base) + ".eml")))
            break;
        std::ifstream in(m_folder / (std::string(base) + ".txt"));
        Message message;
        for (std::string line; std::getline(in, line);) {
            const size_t colon = line.find(": ");
            if (colon != std::string::npos)
                message[line.substr(0, colon)] = line.substr(colon + 2);
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

std::string SmtpTestServer::ReadBytes(const std::string &name) const
{
    std::ifstream in(m_folder / name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

} // namespace vorlund::test
