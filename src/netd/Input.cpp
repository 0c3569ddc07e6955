#include "netd/Input.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace netd {

std::variant<std::string, InputRefusal> readInput(int fd, std::size_t limit,
                                                  std::chrono::milliseconds deadline) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + deadline;
    std::string input;
    char buffer[16384];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return InputRefusal{"the input did not end in time"};
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return InputRefusal{"cannot read the input"};
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return input;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return InputRefusal{"cannot read the input"};
        }
        input.append(buffer, static_cast<std::size_t>(got));
        if (input.size() > limit)
            return InputRefusal{"larger than the limit"};
    }
}

} // namespace netd
