#include "netd/Nft.h"

#include <nftables/libnftables.h>

namespace netd {

void Nft::Free::operator()(nft_ctx* context) const {
    nft_ctx_free(context);
}

Nft::Nft() : m_context(nft_ctx_new(NFT_CTX_DEFAULT)) {
    if (!m_context)
        return;
    nft_ctx_buffer_output(m_context.get());
    nft_ctx_buffer_error(m_context.get());
    nft_ctx_output_set_flags(m_context.get(), NFT_CTX_OUTPUT_STATELESS);
}

std::string Nft::run(const std::string& commands) {
    if (!m_context)
        return "nftables unavailable";
    if (nft_run_cmd_from_buffer(m_context.get(), commands.c_str()) == 0)
        return {};
    const std::string error = nft_ctx_get_error_buffer(m_context.get());
    return error.empty() ? "nft failed" : error;
}

std::string Nft::listing(const std::string& table) {
    if (!m_context || nft_run_cmd_from_buffer(m_context.get(), ("list table " + table + "\n").c_str()) != 0) {
        if (m_context)
            nft_ctx_get_error_buffer(m_context.get()); // emptied for the next command
        return {};
    }
    return nft_ctx_get_output_buffer(m_context.get());
}

} // namespace netd
