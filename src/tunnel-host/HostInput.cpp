#include "HostInput.h"

#include "os/OwnFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace HostInput {

namespace {

constexpr std::size_t inputLimit = std::size_t{16} << 20;
constexpr std::size_t savedLimit = std::size_t{32} << 20;

} // namespace

std::string readStandardInput() {
    std::string input;
    if (::isatty(STDIN_FILENO))
        return input;
    char buffer[65536];
    while (input.size() < inputLimit) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, std::min(sizeof buffer, inputLimit - input.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        input.append(buffer, static_cast<std::size_t>(got));
    }
    return input;
}

std::string savedEngineDocument(const std::string& configFile) {
    if (configFile.empty())
        return {};
    const auto saved = os::readOwnFile(configFile, savedLimit);
    if (!saved)
        return {};
    const auto json = nlohmann::json::parse(*saved, nullptr, false);
    const nlohmann::json* at = &json;
    for (const char* key : {"protocolConfiguration", "providerConfiguration", "config"}) {
        if (!at->is_object() || !at->contains(key))
            return {};
        at = &(*at)[key];
    }
    return at->is_string() ? at->get<std::string>() : std::string();
}

bool blank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); });
}

} // namespace HostInput
