// vemko-tunnel: carries the tunnel for the app, outliving it as a system tunnel would.
//
//   vemko-tunnel [--runtime-dir DIR]              the tunnel document arrives on stdin
//   vemko-tunnel [--runtime-dir DIR] --saved [--config-file FILE]
//                                                 the document saved by the app is used
//   --desktop-proxy                               also the HTTP entry; the desktop's proxy
//                                                 settings are put back when the host ends
//   vemko-tunnel --proxy-guard [--runtime-dir DIR]  the host's guard (ProxyGuard)
//
// The document holds server credentials: it never travels on the command line. Plain C++ on the
// standard library and Linux calls: it runs for as long as the tunnel does, so it stays small.
#include "HostInput.h"
#include "Options.h"
#include "ProxyGuard.h"
#include "TunnelHost.h"
#include "os/PrivateDir.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    // Our own session: a terminal's Ctrl-C or the app's process group never reaches the tunnel.
    ::setsid();
    // A file-size limit makes a write come up short, which every writer checks, instead of
    // killing the host halfway through a temporary file.
    ::signal(SIGXFSZ, SIG_IGN);
    int exitCode = 0;
    const auto options = parseOptions(argc, argv, exitCode);
    if (!options)
        return exitCode;
    if (options->proxyGuard)
        return ProxyGuard::run(options->runtimeDir);

    std::string document = options->saved ? std::string() : HostInput::readStandardInput();
    if (HostInput::blank(document))
        document = HostInput::savedEngineDocument(options->configFile);

    if (!os::ensurePrivateDir(options->runtimeDir)) {
        std::fprintf(stderr, "vemko-tunnel: cannot use the runtime folder %s\n", options->runtimeDir.c_str());
        return 3;
    }
    return TunnelHost(options->runtimeDir, std::move(document), options->desktopProxy).run();
}
