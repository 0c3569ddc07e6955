#include "HostStatus.h"

#include "HostPaths.h"
#include "os/OwnFile.h"
#include "os/ReplaceFile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>

namespace {

const char* phaseName(HostStatus::Phase phase) {
    switch (phase) {
    case HostStatus::Phase::Connecting:
        return "connecting";
    case HostStatus::Phase::Connected:
        return "connected";
    case HostStatus::Phase::Disconnected:
        break;
    }
    return "disconnected";
}

} // namespace

std::string HostStatus::json() const {
    nlohmann::ordered_json object;
    if (connectedDate)
        object["connectedDate"] = isoUtc(*connectedDate);
    object["pid"] = pid;
    if (!reason.empty())
        object["reason"] = reason;
    object["status"] = phaseName(phase);
    if (troubleAt)
        object["troubleAt"] = isoUtc(*troubleAt);
    // An engine's line is not always valid UTF-8: replaced, never a throw.
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string isoUtc(HostStatus::Time time) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(milliseconds % 1000));
    return text;
}

int writeStatus(const std::string& runtimeDir, const HostStatus& status) {
    return os::replaceFile(HostPaths::statusFile(runtimeDir), status.json(), os::Durability::Atomic);
}

int writePid(const std::string& runtimeDir, pid_t pid) {
    return os::replaceFile(HostPaths::pidFile(runtimeDir), std::to_string(pid) + "\n",
                           os::Durability::Atomic);
}

std::optional<pid_t> readPid(const std::string& runtimeDir) {
    const auto text = os::readOwnFile(HostPaths::pidFile(runtimeDir), 32);
    if (!text)
        return std::nullopt;
    char* end = nullptr;
    const long pid = std::strtol(text->c_str(), &end, 10);
    while (end && std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    if (pid <= 0 || !end || *end != '\0')
        return std::nullopt;
    return static_cast<pid_t>(pid);
}
