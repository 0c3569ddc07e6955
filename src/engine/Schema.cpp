#include "engine/Schema.h"

#include <algorithm>
#include <cctype>

namespace engine {

namespace {

constexpr std::size_t maxText = 8192;
constexpr std::size_t maxList = 20000;

bool isText(const Json& value) {
    return value.is_string() && value.get_ref<const std::string&>().size() <= maxText;
}

bool isTextList(const Json& value) {
    return value.is_array() && value.size() <= maxList && std::all_of(value.begin(), value.end(), isText);
}

bool isHost(const Json& value) {
    if (!value.is_string())
        return false;
    const auto& text = value.get_ref<const std::string&>();
    return !text.empty() && text.size() <= 253 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == ':' || c == '_';
    });
}

std::optional<Json> port(const Json& value) {
    long long number = -1;
    if (value.is_number_integer()) {
        number = value.get<long long>();
    } else if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit))
            return std::nullopt;
        number = std::stoll(text);
    }
    if (number < 1 || number > 65535)
        return std::nullopt;
    return Json(number);
}

bool isMap(const Json& value, bool listsToo) {
    if (!value.is_object() || value.size() > 64)
        return false;
    return std::all_of(value.items().begin(), value.items().end(), [&](const auto& item) {
        return item.key().size() <= 256 && (isText(item.value()) || (listsToo && isTextList(item.value())));
    });
}

// The member's value as it is passed on, a refusal, or nothing (a wrong type in a lenient part).
std::variant<Json, Refusal, std::monostate> read(const Member& member, const Json& value,
                                                 const std::string& path) {
    const auto wrong = [&]() -> std::variant<Json, Refusal, std::monostate> {
        return Refusal{"неверное значение в настройках сервера: " + path};
    };
    switch (member.type) {
    case Type::String:
        if (!isText(value))
            return wrong();
        if (!member.oneOf.empty() && std::find(member.oneOf.begin(), member.oneOf.end(),
                                               value.get<std::string>()) == member.oneOf.end())
            return Refusal{"неподдерживаемое значение «" + value.get<std::string>() + "»: " + path};
        return value;
    case Type::Bool:
        return value.is_boolean() ? std::variant<Json, Refusal, std::monostate>(value) : wrong();
    case Type::Integer:
        return value.is_number_integer() ? std::variant<Json, Refusal, std::monostate>(value) : wrong();
    case Type::Port:
        if (auto number = port(value))
            return *number;
        return wrong();
    case Type::Host:
        return isHost(value) ? std::variant<Json, Refusal, std::monostate>(value) : wrong();
    case Type::IntOrString:
        return value.is_number_integer() || isText(value) ? std::variant<Json, Refusal, std::monostate>(value)
                                                          : wrong();
    case Type::StringList:
        return isTextList(value) ? std::variant<Json, Refusal, std::monostate>(value) : wrong();
    case Type::StringMap:
    case Type::Headers:
        return isMap(value, member.type == Type::Headers) ? std::variant<Json, Refusal, std::monostate>(value)
                                                          : wrong();
    case Type::Object: {
        auto cleaned = clean(value, *member.shape, path);
        if (auto* refusal = std::get_if<Refusal>(&cleaned))
            return *refusal;
        return std::get<Json>(std::move(cleaned));
    }
    case Type::ObjectList: {
        if (!value.is_array() || value.empty() || value.size() > 16)
            return wrong();
        Json list = Json::array();
        for (std::size_t index = 0; index < value.size(); ++index) {
            auto cleaned = clean(value[index], *member.shape, path + "[" + std::to_string(index) + "]");
            if (auto* refusal = std::get_if<Refusal>(&cleaned))
                return *refusal;
            list.push_back(std::get<Json>(std::move(cleaned)));
        }
        return list;
    }
    case Type::Dropped:
        return std::monostate{};
    case Type::Refused:
        return Refusal{std::string(member.refusal)};
    }
    return wrong();
}

} // namespace

Refusal unknownSetting(const std::string& path) {
    return Refusal{"неизвестная настройка сервера: " + path};
}

std::variant<Json, Refusal> clean(const Json& value, const Shape& shape, const std::string& path) {
    if (!value.is_object())
        return Refusal{"неверное значение в настройках сервера: " + path};
    Json result = Json::object();
    for (const auto& item : value.items()) {
        const auto member = std::find_if(shape.members.begin(), shape.members.end(),
                                         [&](const Member& known) { return known.key == item.key(); });
        const std::string where = path + "." + item.key();
        if (member == shape.members.end()) {
            if (shape.strict)
                return unknownSetting(where);
            continue;
        }
        auto passed = read(*member, item.value(), where);
        if (auto* refusal = std::get_if<Refusal>(&passed)) {
            // A lenient part loses a member of the wrong type; it never decides protection.
            if (shape.strict || member->type == Type::Refused)
                return *refusal;
            continue;
        }
        if (auto* kept = std::get_if<Json>(&passed))
            result[item.key()] = std::move(*kept);
    }
    for (const Member& member : shape.members)
        if (member.required && !result.contains(member.key))
            return Refusal{"в настройках сервера нет " + path + "." + std::string(member.key)};
    return result;
}

} // namespace engine
