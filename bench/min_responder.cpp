// min_responder <folder>: the least a program can do on the board's line, as a floor for
// the benchmark. Opens <folder>/com1 raw and blocking, answers "R" to every "Q" and
// swallows the 41 bytes ("B" and the 40-byte block) that follow each answer.

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: min_responder <folder>\n");
        return 2;
    }
    const std::string path = std::string(argv[1]) + "/com1";
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (fd < 0 || ::tcgetattr(fd, &mode) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    ::cfmakeraw(&mode);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &mode);

    int toSwallow = 0;
    unsigned char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return n == 0 ? 0 : 1; // the line is gone
        for (ssize_t i = 0; i < n; ++i) {
            if (toSwallow > 0) {
                --toSwallow;
            } else if (buffer[i] == 'Q') {
                const char answer = 'R';
                if (::write(fd, &answer, 1) != 1)
                    return 1;
                toSwallow = 41;
            }
        }
    }
}
