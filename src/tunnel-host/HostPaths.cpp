#include "HostPaths.h"

#include "os/PrivateDir.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace HostPaths {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// An XDG base folder as set, when it is absolute; else `fallback` under the home folder.
std::string baseDir(const char* variable, const char* fallback) {
    const std::string set = environment(variable);
    return !set.empty() && set.front() == '/' ? set : os::homeDir() + fallback;
}

} // namespace

std::string defaultRuntimeDir() {
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime.front() == '/')
        return runtime + "/vemko-vpn";
    return baseDir("XDG_STATE_HOME", "/.local/state") + "/vemko-vpn/run";
}

std::string defaultConfigFile() {
    const std::string config = environment("XDG_CONFIG_HOME");
    return (config.empty() ? os::homeDir() + "/.config" : config) + "/vemko-vpn/tunnel.json";
}

std::string defaultCacheDir() {
    return baseDir("XDG_CACHE_HOME", "/.cache") + "/vemko-vpn";
}

std::string statusFile(const std::string& runtimeDir) {
    return runtimeDir + "/status.json";
}
std::string pidFile(const std::string& runtimeDir) {
    return runtimeDir + "/vemko-tunnel.pid";
}
std::string lockFile(const std::string& runtimeDir) {
    return runtimeDir + "/vemko-tunnel.lock";
}
std::string logFile(const std::string& runtimeDir) {
    return runtimeDir + "/vemko-tunnel.log";
}

std::string selfExecutable() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "vemko-tunnel";
    // A binary replaced while it runs (an update) reads "<path> (deleted)"; the path is the program.
    if (const std::string deleted = " (deleted)"; self.ends_with(deleted))
        self.resize(self.size() - deleted.size());
    return self;
}

std::string selfDir() {
    const std::string self = selfExecutable();
    const auto slash = self.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : self.substr(0, slash);
}

} // namespace HostPaths
