#pragma once
// What a run that ends without the complete file leaves of its part and resume state.
//
// A failure that a later run can get past (the network, a busy server, an expired address, the
// speed floor, a full disk, a proxy) keeps them, and its message says so (Error::partKept) -- but
// only when the state on disk lists bytes a later run can prove (by the server's validators, or
// by sampled blocks where it has none): a part whose state lists nothing is not kept. A failure
// after which nothing of the part is of use (the file is gone from the server or is another version
// now, another program changed the part) and a cancel remove them. A run that ended before it
// touched the part keeps what an earlier run left, and never throws away a part another address of
// the same file left.

#include "common/Result.h"

#include <optional>

namespace vantorel::download {

class Checkpoint;
class PartFile;

// Whether what was fetched before a failure of this kind is of use to a later run.
bool partOutlives(FailureKind kind);

// How the run came to end without its file.
enum class RunStop {
    None,      // it failed
    Cancel,    // cancel(): for good
    Interrupt, // interrupt(): to be taken up later
};

// What the part beside the target is.
struct PartHistory {
    bool touched = false;   // this run may have changed it since an earlier run left it
    bool foreign = false;   // another address of the same file left it
    bool resumable = false; // an earlier run left it, with a state this run could take up
};

// Keeps the part (file.keep()) or lets it go with `file`, bringing the state up to date first,
// and gives the run's error: `failure` (none when it was only stopped), with the kept part told.
Error endWithoutFile(PartFile& file, Checkpoint& checkpoint, const PartHistory& history,
                     RunStop stop, std::optional<Error> failure);

} // namespace vantorel::download
