#include "Options.h"

#include "HostPaths.h"

#include <cstdio>
#include <string_view>

namespace {

constexpr const char* usage = R"(Usage: vemko-tunnel [options]
The tunnel document arrives on standard input (never on the command line).

Options:
  --runtime-dir <dir>    State folder.
  --saved                Run the saved tunnel document instead of stdin.
  --config-file <file>   Saved tunnel configuration.
  --desktop-proxy        Carry the desktop's proxy settings too.
  --proxy-guard          Restore the desktop's proxy settings after the host.
  -h, --help             Displays help on commandline options.
)";

} // namespace

std::optional<Options> parseOptions(int argc, char* argv[], int& exitCode) {
    Options options{HostPaths::defaultRuntimeDir(), HostPaths::defaultConfigFile()};
    for (int at = 1; at < argc; ++at) {
        std::string_view word = argv[at];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = word.find('='); word.starts_with("--") && equals != std::string_view::npos) {
            inlineValue = word.substr(equals + 1);
            word = word.substr(0, equals);
        }
        // "--name value" or "--name=value"
        const auto value = [&](std::string& into) {
            if (inlineValue) {
                into = *inlineValue;
                return true;
            }
            if (at + 1 >= argc)
                return false;
            into = argv[++at];
            return true;
        };
        bool understood = true;
        if (word == "--runtime-dir")
            understood = value(options.runtimeDir);
        else if (word == "--config-file")
            understood = value(options.configFile);
        else if (word == "--saved" && !inlineValue)
            options.saved = true;
        else if (word == "--desktop-proxy" && !inlineValue)
            options.desktopProxy = true;
        else if (word == "--proxy-guard" && !inlineValue)
            options.proxyGuard = true;
        else if ((word == "-h" || word == "--help") && !inlineValue) {
            std::fputs(usage, stdout);
            exitCode = 0;
            return std::nullopt;
        } else
            understood = false;
        if (!understood) {
            std::fprintf(stderr, "vemko-tunnel: cannot use the argument '%s'\n%s", argv[at], usage);
            exitCode = 1;
            return std::nullopt;
        }
    }
    return options;
}
