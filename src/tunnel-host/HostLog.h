#pragma once

#include "os/Fd.h"

#include <string>
#include <string_view>

// vemko-tunnel.log (0600): the host's own lines and everything the engine prints, restarted at
// each connection and capped at about 1 MiB (the runtime folder is a small tmpfs). Never written
// through a link: the host would overwrite whatever it points at.
class HostLog {
public:
    explicit HostLog(const std::string& path);

    // "<UTC time> vemko-tunnel: <line>"
    void line(std::string_view text);
    // The engine's output as it came.
    void engineOutput(std::string_view bytes);

private:
    void write(std::string_view bytes);

    os::Fd m_fd;
    std::size_t m_size = 0;
};
