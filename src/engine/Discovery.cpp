#include "engine/Discovery.h"

#include "os/ReplaceFile.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace engine {

namespace {

namespace fs = std::filesystem;

constexpr int versionDeadlineMs = 5000;

bool isExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string onPath(const std::string& name, const std::string& path) {
    std::stringstream folders(path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue;
        folder.append("/").append(name);
        if (isExecutable(folder))
            return folder;
    }
    return {};
}

// Standard output of `binary argument`, read until it exits or the deadline passes.
std::string runForOutput(const std::string& binary, const char* argument) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* const argv[] = {const_cast<char*>(binary.c_str()), const_cast<char*>(argument), nullptr};
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, binary.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string output;
    if (spawned == 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(versionDeadlineMs);
        char buffer[4096];
        while (output.size() < 65536) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{pipeFds[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, int(left.count())) <= 0)
                break;
            const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            output.append(buffer, std::size_t(got));
        }
        ::kill(child, SIGKILL); // an engine that took the argument for something else
        ::waitpid(child, nullptr, 0);
    }
    ::close(pipeFds[0]);
    return output.substr(0, output.find('\n'));
}

std::string cacheKey(const std::string& binary) {
    struct stat info {};
    if (::stat(binary.c_str(), &info) != 0)
        return {};
    return binary + "\t" + std::to_string(info.st_size) + "\t" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec) + "\t" + std::to_string(info.st_ino);
}

std::optional<std::string> cachedLine(const std::string& key, const std::string& cacheFile) {
    std::ifstream cache(cacheFile);
    std::string line;
    while (std::getline(cache, line))
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '\t')
            return line.substr(key.size() + 1);
    return std::nullopt;
}

std::string cachedVersionLine(const std::string& binary, const std::string& cacheFile) {
    const std::string key = cacheKey(binary);
    if (cacheFile.empty() || key.empty())
        return versionLine(binary);
    if (auto cached = cachedLine(key, cacheFile))
        return *cached;
    std::string answer = versionLine(binary);
    if (!answer.empty()) // the newest binary's line; a private file of this user, replaced whole
        os::replaceFile(cacheFile, key + '\t' + answer + '\n', os::Durability::Atomic);
    return answer;
}

void findAssets(EngineInfo& engine, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (folder.empty())
            continue;
        engine.geoip = fs::exists(folder + "/geoip.dat");
        engine.geosite = fs::exists(folder + "/geosite.dat");
        if (engine.geoip || engine.geosite) {
            engine.assetDir = folder;
            return;
        }
    }
}

const std::vector<std::string> systemAssetDirs{"/usr/local/share/xray", "/usr/share/xray",
                                               "/usr/share/v2ray"};

std::optional<EngineInfo> identifyBinary(const std::string& binary, const std::string& cacheFile) {
    auto engine = identify(cachedVersionLine(binary, cacheFile));
    if (engine)
        engine->path = binary;
    return engine;
}

// Root-owned, not writable by group or others, and so is every folder above it.
bool trustedByRoot(const std::string& path) {
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    if (error)
        return false;
    for (fs::path at = real;; at = at.parent_path()) {
        struct stat info {};
        if (::stat(at.c_str(), &info) != 0 || info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)))
            return false;
        if (at == at.root_path())
            return true;
    }
}

} // namespace

std::string versionLine(const std::string& binary) {
    const std::string name = fs::path(binary).filename().string();
    const bool v2ray = name.rfind("v2ray", 0) == 0;
    std::string line = runForOutput(binary, v2ray ? "-version" : "version");
    if (!identify(line) && !v2ray && name.rfind("xray", 0) != 0)
        line = runForOutput(binary, "-version");
    return line;
}

Discovered discover(const Places& places) {
    std::vector<std::string> candidates;
    if (!places.override.empty())
        candidates.push_back(places.override);
    for (const std::string& folder : places.bundledDirs)
        candidates.push_back(folder + "/xray");
    candidates.push_back("/usr/local/bin/xray");
    candidates.push_back(onPath("xray", places.path));
    candidates.push_back(onPath("v2ray", places.path));
    std::string problem = "не найден ни Xray, ни V2Ray";
    for (const std::string& candidate : candidates) {
        if (candidate.empty() || !isExecutable(candidate)) {
            if (candidate == places.override && !candidate.empty())
                return {std::nullopt, "движок " + candidate + " не найден"};
            continue;
        }
        auto engine = identifyBinary(candidate, places.cacheFile);
        if (!engine) {
            // A binary that is there but does not say what it is: a developer's choice is final.
            problem = "движок " + candidate + " не отвечает как Xray или V2Ray 4";
            if (candidate == places.override)
                return {std::nullopt, problem};
            continue;
        }
        std::vector<std::string> assets{places.assetOverride, fs::path(candidate).parent_path().string()};
        assets.insert(assets.end(), systemAssetDirs.begin(), systemAssetDirs.end());
        findAssets(*engine, assets);
        return {engine, {}};
    }
    return {std::nullopt, problem};
}

Discovered discoverForRoot(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates) {
        if (!isExecutable(candidate) || !trustedByRoot(candidate))
            continue;
        auto engine = identifyBinary(candidate, {});
        if (!engine)
            continue;
        std::vector<std::string> assets{fs::path(candidate).parent_path().string()};
        assets.insert(assets.end(), systemAssetDirs.begin(), systemAssetDirs.end());
        std::erase_if(
            assets, [](const std::string& folder) { return !fs::exists(folder) || !trustedByRoot(folder); });
        findAssets(*engine, assets);
        return {engine, {}};
    }
    return {std::nullopt, "no root-owned engine"};
}

bool answeredBefore(const std::string& binary, const std::string& cacheFile) {
    const std::string key = cacheKey(binary);
    return !key.empty() && !cacheFile.empty() && cachedLine(key, cacheFile).has_value();
}

} // namespace engine
