#pragma once
// Whether downloads can be saved in a folder: asked when the user chooses the folder, so that
// a folder that is missing or cannot be written is told then, not at the next download.

#include "common/Result.h"

#include <string_view>

namespace vantorel::settings {

enum class FolderState {
    Usable,     // a folder this program can create files in
    Missing,    // nothing there: it may be created
    NotAFolder, // a file, or a path through one
    NotWritable // a folder that refuses new files (read-only, no permission)
};

struct FolderCheck {
    FolderState state = FolderState::Usable;
    Error error; // the user's message when not usable
};

// Tries it out: a file is created in the folder and removed again, so a read-only file system
// and missing permissions are found alike.
FolderCheck checkDownloadFolder(std::string_view path);

// Creates a missing folder, with the folders above it, and checks that it can be written.
Status createDownloadFolder(std::string_view path);

} // namespace vantorel::settings
