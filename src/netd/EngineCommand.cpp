#include "netd/EngineCommand.h"

#include <elf.h>
#include <fstream>
#include <sys/xattr.h>

namespace netd {

std::string elfInterpreter(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    Elf64_Ehdr header{};
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header) ||
        std::string(reinterpret_cast<const char*>(header.e_ident), 4) != "\x7f"
                                                                         "ELF" ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr))
        return {};
    for (int index = 0; index < header.e_phnum; ++index) {
        Elf64_Phdr program{};
        file.seekg(static_cast<std::streamoff>(header.e_phoff + index * sizeof program));
        if (!file.read(reinterpret_cast<char*>(&program), sizeof program))
            return {};
        if (program.p_type != PT_INTERP || program.p_filesz == 0 || program.p_filesz > 4096)
            continue;
        std::string interpreter(program.p_filesz, '\0');
        file.seekg(static_cast<std::streamoff>(program.p_offset));
        if (!file.read(interpreter.data(), static_cast<std::streamsize>(interpreter.size())))
            return {};
        interpreter.resize(interpreter.find('\0'));
        return interpreter;
    }
    return {};
}

std::vector<std::string> engineCommand(const engine::EngineInfo& engine, const std::string& config) {
    const bool fileCapabilities = ::getxattr(engine.path.c_str(), "security.capability", nullptr, 0) > 0;
    const std::string interpreter = fileCapabilities ? elfInterpreter(engine.path) : std::string();
    std::vector<std::string> command;
    if (!interpreter.empty())
        command.push_back(interpreter);
    command.push_back(engine.path);
    for (std::string argument : engine.runArguments())
        command.push_back(argument == "stdin:" ? config : argument);
    return command;
}

} // namespace netd
