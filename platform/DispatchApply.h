#pragma once

#include <cstddef>
#include <functional>

// Runs work(begin, end) over [0, count) cut into slices of sliceSize, side by
// side on the caller and up to `helpers` threads of the global queue; returns
// once every slice has run. For runs of independent looks at the disk: the
// caller takes slices too, so a busy pool only makes it slower.
void dispatchApply(size_t count, size_t sliceSize, int helpers, const std::function<void(size_t begin, size_t end)>& work);

// For runs of looks at the disk, a system call each: slices of this many keep
// the helpers busy without making a small folder wait for them.
namespace DiskLooks {
constexpr size_t PerSlice = 256;
constexpr int Helpers = 3;
} // namespace DiskLooks
