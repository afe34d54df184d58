// Kept apart: the kernel's termios2 header clashes with the C library's <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace vorlund::test {

int PtyOutputBaud(int fd)
{
    termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return -1;
    return int(t.c_ospeed);
}

} // namespace vorlund::test
