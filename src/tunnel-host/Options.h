#pragma once

#include <optional>
#include <string>

// vemko-tunnel's command line.
struct Options {
    std::string runtimeDir;
    std::string configFile;
    bool saved = false;
    bool desktopProxy = false;
    bool proxyGuard = false;
};

// Parsed with the defaults filled in; nothing after --help or a mistake (said on the terminal),
// with `exitCode` set to what the program returns then.
std::optional<Options> parseOptions(int argc, char* argv[], int& exitCode);
