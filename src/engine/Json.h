#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace engine {

using Json = nlohmann::ordered_json;

// Largest server entry or engine document read, and its deepest nesting: a real entry is a few
// kilobytes and eight levels deep.
constexpr std::size_t maxDocumentBytes = std::size_t{256} * 1024;
constexpr int maxDepth = 32;

// Parses `text` as one JSON value within the bounds above. The nesting is measured before the
// parser sees the text, so no input can exhaust the stack. Empty with `why` set otherwise.
std::optional<Json> parseBounded(std::string_view text, std::string& why);

} // namespace engine
