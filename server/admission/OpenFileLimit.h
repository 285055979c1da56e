// The process's open-file limit: raised from the soft to the hard limit when the server starts,
// and how many connections it leaves room for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tallyport::server {

struct OpenFileLimit {
    uint64_t before = 0; // the soft limit found
    uint64_t now = 0;    // the soft limit in force
};

// Sets the soft limit to the hard limit (or to the most the kernel allows a process, when the hard
// limit is unlimited). The limit stays as it was if that is refused.
OpenFileLimit RaiseOpenFileLimit();

uint64_t CurrentOpenFileLimit();

// Connections a server with `threads` worker threads can hold within `openFiles`: the rest is
// kept for what each worker may have open while it answers (SQLite's database, log and
// shared-memory files, a package file and its folder) and for each event loop's own files.
std::size_t ConnectionBudget(uint64_t openFiles, int threads);

} // namespace tallyport::server
