#include "os/ProxyBackup.h"

#include "os/OwnFile.h"
#include "os/PrivateDir.h"
#include "os/Spawn.h"
#include "os/Tool.h"

#include <cstdlib>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace os {

namespace {

constexpr std::size_t backupLimit = std::size_t{1} << 20;

} // namespace

std::string kdeConfigTool(const std::string& verb) {
    for (const char* version : {"6", "5"})
        if (const std::string name = "k" + verb + "config" + version; !findExecutable(name).empty())
            return name;
    return {};
}

void reparseKdeProxy() {
    runTool("dbus-send", {"--type=signal", "/KIO/Scheduler",
                          "org.kde.KIO.Scheduler.reparseSlaveConfiguration", "string:"});
}

std::string proxyStateDir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    return (state && *state ? std::string(state) : homeDir() + "/.local/state") + "/vemko-vpn";
}

std::string gnomeProxyBackup(const std::string& stateDir) {
    return stateDir + "/gnome-proxy.backup";
}

std::string kdeProxyBackup(const std::string& stateDir) {
    return stateDir + "/kde-proxy.backup";
}

void restoreGnomeProxy(const std::string& stateDir) {
    const auto saved = readOwnFile(gnomeProxyBackup(stateDir), backupLimit);
    if (!saved)
        return;
    if (runTool("dconf", {"reset", "-f", gnomeProxyPath}).ok &&
        runTool("dconf", {"load", gnomeProxyPath}, *saved).ok)
        ::unlink(gnomeProxyBackup(stateDir).c_str());
}

void restoreKdeProxy(const std::string& stateDir) {
    const std::string write = kdeConfigTool("write");
    const auto saved = readOwnFile(kdeProxyBackup(stateDir), backupLimit);
    if (write.empty() || !saved)
        return;
    bool ok = true;
    std::istringstream lines(*saved);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == 0 || equals == std::string::npos)
            continue;
        std::vector<std::string> arguments{"--file",         "kioslaverc", "--group",
                                           "Proxy Settings", "--key",      line.substr(0, equals)};
        const std::string value = line.substr(equals + 1);
        arguments.push_back(value.empty() ? "--delete" : value);
        ok = runTool(write, arguments).ok && ok;
    }
    reparseKdeProxy();
    if (ok)
        ::unlink(kdeProxyBackup(stateDir).c_str());
}

void restoreDesktopProxy(const std::string& stateDir) {
    restoreGnomeProxy(stateDir);
    restoreKdeProxy(stateDir);
}

} // namespace os
