#pragma once

#include <string>

namespace os {

// Creates the folder (and its parents) and makes it private (0700). Refuses a folder that is a
// symlink or belongs to another user: the runtime folder may sit in a shared temporary folder.
// False when the folder cannot be made private.
bool ensurePrivateDir(const std::string& path);

// $HOME, else the user's entry in the password database.
std::string homeDir();

} // namespace os
