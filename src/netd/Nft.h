#pragma once

#include <memory>
#include <string>

struct nft_ctx;

namespace netd {

// One libnftables context. A table made with "flags owner" belongs to the context that made it: nobody
// else may change or delete it, "nft flush ruleset" passes it by, and it goes when the context does.
class Nft {
public:
    Nft();

    // Runs nft commands as one transaction; empty on success, else nft's message.
    std::string run(const std::string& commands);
    // The table as nft prints it without counters; empty when it is not there.
    std::string listing(const std::string& table);

private:
    struct Free {
        void operator()(nft_ctx* context) const;
    };
    std::unique_ptr<nft_ctx, Free> m_context;
};

} // namespace netd
