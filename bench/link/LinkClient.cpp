// A viewer as raw bytes for the serving measurements. "frames": logs in at 640x480 and asks
// for live frames as fast as the replies come, for the given seconds, and prints frames a
// second. "hello": tries to log in (over the relay with a login id) every 100 ms until a hello
// comes and prints how long that took.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int Connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval t { 2, 0 };
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    return fd;
}

bool ReadAll(int fd, uint8_t *out, size_t n)
{
    while (n > 0) {
        const ssize_t r = ::recv(fd, out, n, 0);
        if (r <= 0)
            return false;
        out += r;
        n -= size_t(r);
    }
    return true;
}

bool Send(int fd, const std::string &bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

std::string Login(const std::string &id)
{
    return std::string("586?") + char(50) + char(64) + id + "\r\n";
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc >= 3 ? argv[1] : "";
    if (argc < 4 || (mode != "frames" && mode != "hello")) {
        std::fprintf(stderr,
                     "usage: %s frames PORT SECONDS\n       %s hello PORT LOGIN-ID [SECONDS]\n",
                     argv[0], argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[2]);
    if (mode == "hello") {
        const double limit = argc >= 5 ? std::atof(argv[4]) : 600;
        const auto start = Clock::now();
        while (std::chrono::duration<double>(Clock::now() - start).count() < limit) {
            const int fd = Connect(port);
            uint8_t reply[22];
            const bool hello = fd >= 0 && Send(fd, Login(argv[3])) && ReadAll(fd, reply, 4)
                && std::memcmp(reply, ">HEL", 4) == 0;
            if (fd >= 0)
                ::close(fd);
            if (hello) {
                std::printf("hello after %.2f s\n",
                            std::chrono::duration<double>(Clock::now() - start).count());
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::printf("no hello in %.0f s\n", limit);
        return 1;
    }
    const double seconds = std::atof(argv[3]);
    int fd = -1;
    uint8_t hello[22];
    for (int tries = 0; tries < 100 && fd < 0; ++tries) {
        fd = Connect(port);
        if (fd >= 0 && !(Send(fd, Login("")) && ReadAll(fd, hello, sizeof hello))) {
            ::close(fd);
            fd = -1;
        }
        if (fd < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (fd < 0) {
        std::fprintf(stderr, "no server on port %d\n", port);
        return 1;
    }
    const std::string request = std::string(">c") + char(1) + char(50) + "\r\n";
    std::vector<uint8_t> body;
    long frames = 0;
    const auto start = Clock::now();
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        uint8_t header[8];
        if (!Send(fd, request) || !ReadAll(fd, header, 8))
            break;
        const uint32_t length = uint32_t(header[4]) | uint32_t(header[5]) << 8
            | uint32_t(header[6]) << 16 | uint32_t(header[7]) << 24;
        if (length > 921600)
            break;
        body.resize(length);
        if (!ReadAll(fd, body.data(), length))
            break;
        ++frames;
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%ld frames in %.1f s: %.1f a second\n", frames, took, double(frames) / took);
    ::close(fd);
    return 0;
}
