#pragma once

#include <string>

// The tunnel document the host runs. It holds server credentials: it arrives on standard input
// (the app's anonymous memory file) or from the configuration the app saved, never on the
// command line.
namespace HostInput {

// Standard input to its end, at most 16 MiB; nothing from a terminal.
std::string readStandardInput();

// The engine document inside the saved tunnel configuration (its provider configuration's
// "config"); empty when the file is missing, unreadable, over 32 MiB or holds none.
std::string savedEngineDocument(const std::string& configFile);

bool blank(const std::string& text);

} // namespace HostInput
