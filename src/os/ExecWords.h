#pragma once

#include <string>
#include <vector>

namespace os {

// `words` as exec takes them (argv, envp): pointers to each, then a null pointer. Valid while
// `words` lives unchanged.
inline std::vector<char*> execPointers(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    pointers.reserve(words.size() + 1);
    for (std::string& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace os
