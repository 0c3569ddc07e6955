// vemko-netd's document reader built with AddressSanitizer and UndefinedBehaviorSanitizer: the
// inputs fuzzing once found (a document without inbounds wrote into freed memory, a deep one
// overflowed the stack) and a few thousand mutations of real documents. Each must be refused or
// written, never crash; a written document listens on 127.0.0.1 only.
#include "netd/Document.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
        ++failures;
    }
}

std::variant<std::string, engine::Refusal> build(const std::string& text) {
    static const engine::EngineInfo engine = *engine::identify("V2Ray 4.34.0 (V2Fly)");
    return netd::engineDocument(text, engine);
}

bool refused(const std::string& text) {
    return std::holds_alternative<engine::Refusal>(build(text));
}

// Every "listen" of a written document is 127.0.0.1.
bool listensOnLoopbackOnly(const std::string& document) {
    for (std::size_t at = document.find("\"listen\":"); at != std::string::npos;
         at = document.find("\"listen\":", at + 1))
        if (document.compare(at + 9, 11, "\"127.0.0.1\"") != 0)
            return false;
    return true;
}

const std::string server =
    R"({"outbounds":[{"tag":"proxy","protocol":"vmess","settings":{"vnext":[{"address":)"
    R"("a.example","port":443,"users":[{"id":"u","alterId":0}]}]},"streamSettings":)"
    R"({"network":"ws","security":"tls","wsSettings":{"path":"/ws"}}},{"tag":"direct",)"
    R"("protocol":"freedom"}],"routing":{"rules":[{"type":"field","ip":["geoip:private"],)"
    R"("outboundTag":"direct"}]},"dns":{"servers":["1.1.1.1"]},"inbounds":[{"listen":)"
    R"("0.0.0.0","port":1080,"protocol":"socks"}]})";

} // namespace

int main() {
    check(refused(R"({"outbounds":[{"protocol":"freedom"}]})"), "a document without inbounds");
    check(refused(std::string(120000, '[') + std::string(120000, ']')), "120,000 nested lists");
    std::string objects;
    for (int level = 0; level < 120000; ++level)
        objects += "{\"a\":";
    check(refused(objects + "1" + std::string(120000, '}')), "120,000 nested objects");
    check(refused(std::string(300 * 1024, ' ') + "{}"), "a document over the size limit");
    check(refused(std::string("{\"outbounds\":[\"\xff\xfe\"]}")), "invalid UTF-8");
    check(refused(std::string("{\"outbounds\"\0:[]}", 17)), "a NUL byte");
    check(refused(R"({"outbounds":[{"protocol":"vmess","settings":{"vnext":[{"address":"a","port":1e400,)"
                  R"("users":[{"id":"u"}]}]}}]})"),
          "a number beyond double");

    const auto written = build(server);
    check(std::holds_alternative<std::string>(written), "the real document is written");
    if (const auto* document = std::get_if<std::string>(&written))
        check(listensOnLoopbackOnly(*document), "the real document listens on loopback only");

    // Mutations: bytes replaced, dropped and repeated at random places; a fixed seed.
    std::mt19937 random(20261207);
    const std::string alphabet = "{}[]\":,0123456789-.eEtrufalsn \\u00ff\x7f";
    for (int round = 0; round < 20000; ++round) {
        std::string mutated = server;
        const int edits = 1 + int(random() % 6);
        for (int edit = 0; edit < edits && !mutated.empty(); ++edit) {
            const std::size_t at = random() % mutated.size();
            switch (random() % 3) {
            case 0:
                mutated[at] = alphabet[random() % alphabet.size()];
                break;
            case 1:
                mutated.erase(at, 1 + random() % 8);
                break;
            default:
                mutated.insert(at, mutated.substr(at, 1 + random() % 16));
            }
        }
        const auto result = build(mutated);
        if (const auto* document = std::get_if<std::string>(&result))
            check(listensOnLoopbackOnly(*document),
                  "mutation " + std::to_string(round) + " listens beyond loopback");
    }
    std::printf("%s\n", failures == 0 ? "all passed" : "failures");
    return failures == 0 ? 0 : 1;
}
