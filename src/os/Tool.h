#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace os {

struct ToolResult {
    bool ok = false; // it ran and exited with 0
    std::string out; // its standard output, at most 1 MiB
};

// Runs a helper program (`program` looked up on PATH) with `input` on its standard input and waits
// for it, at most `deadline`: a tool that hangs (a desktop service that never answers) is killed.
// Never through a shell; no descriptor of ours reaches it (SpawnIo).
ToolResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                   std::string_view input = {},
                   std::chrono::milliseconds deadline = std::chrono::milliseconds(10000));

} // namespace os
