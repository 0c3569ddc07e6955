#include "netd/LocalNet.h"

#include <fstream>
#include <unistd.h>

namespace netd {

namespace {

constexpr const char* sysctl = "/proc/sys/net/ipv4/conf/all/route_localnet";

std::string readWord(const std::string& path) {
    std::ifstream file(path);
    std::string word;
    file >> word;
    return word;
}

bool writeWord(const std::string& path, const std::string& word) {
    std::ofstream file(path, std::ios::trunc);
    file << word << "\n";
    return static_cast<bool>(file.flush());
}

} // namespace

bool routeLocalnetOn(const State& state) {
    const std::string saved = state.path("route_localnet");
    const std::string now = readWord(sysctl);
    if (now.empty())
        return false;
    // The first `up` keeps the value; a fail-over must not save our own.
    if (::access(saved.c_str(), F_OK) != 0 && !writeWord(saved, now))
        return false;
    return now == "1" || writeWord(sysctl, "1");
}

void routeLocalnetRestore(const State& state) {
    const std::string saved = state.path("route_localnet");
    const std::string before = readWord(saved);
    if (before == "0" || before == "1")
        writeWord(sysctl, before);
    ::unlink(saved.c_str());
}

} // namespace netd
