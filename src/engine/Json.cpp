#include "engine/Json.h"

namespace engine {

namespace {

// The deepest nesting of arrays and objects, strings skipped; stops counting past `limit`.
int nestingDepth(std::string_view text, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (inString) {
            if (c == '\\')
                ++at;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit)
                return deepest;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

} // namespace

std::optional<Json> parseBounded(std::string_view text, std::string& why) {
    if (text.size() > maxDocumentBytes) {
        why = "слишком большой документ";
        return std::nullopt;
    }
    if (nestingDepth(text, maxDepth) > maxDepth) {
        why = "слишком глубокая вложенность";
        return std::nullopt;
    }
    Json value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        why = "документ не JSON";
        return std::nullopt;
    }
    return value;
}

} // namespace engine
