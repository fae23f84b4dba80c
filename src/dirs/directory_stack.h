// The directory stack: the current directory by the name the user reached it, and the stack of
// other directories for pushd and popd.
#pragma once

#include "core/chars.h"

/// One remembered directory; jobs started in it hold a reference.
struct DirEntry {
    DirEntry* down = nullptr;  ///< the next entry in listing order (older)
    DirEntry* up = nullptr;    ///< the previous entry in listing order
    int ref_count = 0;         ///< references held by jobs; an unlinked entry lives while > 0
    CharString name;           ///< the canonical absolute name
};

/// The entry of the current directory.
extern DirEntry* current_dir;

/// Builds the stack with the current directory at start-up; home is the start-up value of home
/// (null when there is none).
void dir_init(const CharString* home);
/// Drops a job's reference to an entry; frees an entry that has left the stack when none is left.
void dir_release(DirEntry* entry);
/// Writes a directory name with a leading home shown as ~.
void tilde_form(const CharString& name, FILE* stream);
