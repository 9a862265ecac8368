#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace sonaweld::media {

// Lets a test make a named framework operation fail with a chosen code.
// Every operation that can fail asks it first; 0 means "go on".
using FaultHook = std::function<int(std::string_view operation)>;
using SharedFaultHook = std::shared_ptr<const FaultHook>;

inline int injectedFault(const SharedFaultHook &hook, std::string_view operation)
{
    return hook && *hook ? (*hook)(operation) : 0;
}

} // namespace sonaweld::media
