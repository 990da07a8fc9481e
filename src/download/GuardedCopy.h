#pragma once
// Copying into a shared file mapping that another program may shrink under us. A store into a
// page past the file's new end raises SIGBUS, which would end the whole program; a guarded copy
// turns it into a failure the download can report.

#include <cstddef>

namespace vantorel::download {

// Copies `n` bytes from `src` to `dst`, as memcpy does. Returns false, with only part of the
// bytes copied, when a page of `dst` is no longer backed by its file. A SIGBUS raised anywhere
// else still ends the program as it would without this.
bool guardedCopy(void* dst, const void* src, std::size_t n);

} // namespace vantorel::download
