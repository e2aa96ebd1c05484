// Runs work(0) .. work(count - 1) on up to `jobs` threads (0: one per core),
// each index once, while the calling thread calls `tick` about five times a
// second until all are done. `work` must not throw.
#pragma once

#include <cstddef>
#include <functional>

namespace pelmo::tools {

void RunParallel(std::size_t count, unsigned jobs, const std::function<void(std::size_t)>& work,
                 const std::function<void()>& tick = {});

}  // namespace pelmo::tools
