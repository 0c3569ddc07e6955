#pragma once

#include <string>
#include <string_view>

// What the host learns from the engine's output, line by line: the last line that explains a
// failure (its innermost cause becomes the disconnected reason), and reports that a connection to
// the server itself failed.
class EngineOutput {
public:
    // Takes what the engine printed; true when a whole line said the server could not be reached.
    bool take(std::string_view bytes);
    // The engine has ended: an unfinished last line counts too.
    void finish();

    const std::string& failureLine() const { return m_failureLine; }
    void setFailureLine(std::string line) { m_failureLine = std::move(line); }

    // "a > b > listen tcp 127.0.0.1:10808: bind: address already in use" → the innermost cause,
    // at most 200 bytes.
    static std::string shortReason(std::string_view line);

private:
    bool takeLine(std::string_view line);

    std::string m_partialLine;
    std::string m_failureLine;
};
