#pragma once

#include <chrono>
#include <string>
#include <variant>

namespace netd {

// The caller's input, read whole before anything else happens: at most `limit` bytes, all of it
// within `deadline`. A caller that sends more, or never closes its end, is refused with why.
struct InputRefusal {
    std::string reason;
};
std::variant<std::string, InputRefusal> readInput(int fd, std::size_t limit,
                                                  std::chrono::milliseconds deadline);

} // namespace netd
