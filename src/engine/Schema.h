#pragma once

#include "engine/Json.h"

#include <span>
#include <string>
#include <string_view>
#include <variant>

// The allow-list: what a part of a server entry may hold, as data. A part is read member by
// member against its shape; the result holds only members the shape names, each of its type.
namespace engine {

struct Refusal {
    std::string reason; // Russian, shown to the user beside the server's name
};

enum class Type {
    String, // any text; with `oneOf`, one of those
    Bool,
    Integer,
    Port,        // 1..65535, a number or a text of digits; always written as a number
    Host,        // a host name or an IP address
    IntOrString, // a number or a text such as "16-32"
    StringList,
    StringMap,  // text → text (HTTP headers of one value each)
    Headers,    // text → text or list of texts
    Object,     // by `shape`
    ObjectList, // each by `shape`
    Dropped,    // known, never passed on
    Refused,    // known, and the entry cannot be run with it: `refusal` says why
};

struct Shape;

struct Member {
    std::string_view key;
    Type type = Type::String;
    const Shape* shape = nullptr;
    std::span<const std::string_view> oneOf = {};
    std::string_view refusal = {};
    bool required = false;
};

// A strict shape decides how traffic is protected: an unknown member there refuses the entry,
// since nobody can say what the engine would make of it. Elsewhere unknown members are dropped.
struct Shape {
    std::span<const Member> members;
    bool strict = true;
};

// `value` read through `shape`: a fresh object with the allowed members only. `path` names the
// part in a refusal ("outbounds[0].streamSettings").
std::variant<Json, Refusal> clean(const Json& value, const Shape& shape, const std::string& path);

// A refusal for a part the reader does not understand.
Refusal unknownSetting(const std::string& path);

} // namespace engine
