#pragma once

#include <string>

// The guard of a desktop-proxy host: vemko-tunnel --proxy-guard, started by the host with a pidfd
// of the host as its standard input. The pidfd reads ready once the host has exited, stopped,
// crashed or killed alike, and only after the kernel has closed all its files: its lock is gone
// then, so a lock still held means another host runs (it carries the settings now and restores
// them at its own end). Otherwise the guard puts the user's proxy settings back.
//
// (A pipe's end of file came too early for that test: a dying process lets go of its files one by
// one, the pipe before the lock, and the guard looking in between saw its own host still running.)
namespace ProxyGuard {

inline constexpr int httpPort = 10809;

// In the host: starts the guard, or says why it could not.
std::string start(const std::string& runtimeDir);

// The guard's life.
int run(const std::string& runtimeDir);

} // namespace ProxyGuard
