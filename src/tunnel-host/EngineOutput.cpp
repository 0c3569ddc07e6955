#include "EngineOutput.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t maxLineBytes = std::size_t{64} * 1024; // a runaway line without end
constexpr std::size_t maxReasonBytes = 200;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool containsFolded(std::string_view text, std::string_view word) {
    return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           }) != text.end();
}

bool explainsFailure(std::string_view line) {
    // The engine's informational chatter mentions errors it recovered from.
    for (const char* chatter : {"[Info]", "[Debug]", "[Warning]"})
        if (line.find(chatter) != std::string_view::npos)
            return false;
    constexpr std::string_view failureWords[] = {"failed", "panic", "error", "unknown", "invalid"};
    return std::any_of(std::begin(failureWords), std::end(failureWords),
                       [line](std::string_view word) { return containsFolded(line, word); });
}

// The engine gave up on a connection to the server itself (refused, unreachable, timed out), as
// opposed to a site the server could not reach.
bool serverUnreachable(std::string_view line) {
    return line.find("failed to find an available destination") != std::string_view::npos;
}

} // namespace

bool EngineOutput::take(std::string_view bytes) {
    m_partialLine.append(bytes);
    bool unreachable = false;
    std::size_t start = 0;
    for (std::size_t newline; (newline = m_partialLine.find('\n', start)) != std::string::npos;
         start = newline + 1)
        unreachable = takeLine(std::string_view(m_partialLine).substr(start, newline - start)) || unreachable;
    m_partialLine.erase(0, start);
    if (m_partialLine.size() > maxLineBytes)
        m_partialLine.clear();
    return unreachable;
}

void EngineOutput::finish() {
    if (!m_partialLine.empty())
        takeLine(m_partialLine);
    m_partialLine.clear();
}

bool EngineOutput::takeLine(std::string_view line) {
    line = trimmed(line);
    if (explainsFailure(line))
        m_failureLine = std::string(line);
    return serverUnreachable(line);
}

std::string EngineOutput::shortReason(std::string_view line) {
    const auto at = line.rfind(" > ");
    std::string_view reason = trimmed(at == std::string_view::npos ? line : line.substr(at + 3));
    if (reason.size() > maxReasonBytes) {
        std::size_t cut = maxReasonBytes;
        while (cut > 0 && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80)
            --cut; // never half a UTF-8 character
        reason = reason.substr(0, cut);
    }
    return std::string(reason);
}
