// Resource limits and the file-creation mask: limit, unlimit and umask work directly on the
// process's own limits and mask, which everything the shell starts inherits.
#pragma once

#include <sys/resource.h>

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// A row of the limit table.
struct LimitEntry {
    int resource;      ///< the system's resource number (see RESOURCE_SBSIZE)
    const char* name;  ///< the name users type and the listing shows
    long multiplier;   ///< bytes or seconds per unit of a plain number
    const char* unit;  ///< the unit word of the listing
};

/// The resource number of the socket-buffer row, which this system does not have: it reads as
/// unlimited and every attempt to set it is refused.
inline constexpr int RESOURCE_SBSIZE = -2;

/// The row whose name the word begins ("Ambiguous", "No such limit" with the name prefix).
const LimitEntry& find_limit(const CharString& word);
/// Sets the hard or soft limit of the row; on refusal writes the refused-limit message on the
/// diagnostic stream under the running command's name and returns -1, else 0.
int set_limit(const LimitEntry& entry, bool hard, rlim_t limit);
/// Writes the row's name and its hard or soft limit, one line on the output stream.
void print_limit(const LimitEntry& entry, bool hard);
/// The limit a value word (and an optional unit word, or null) give for the row; does not
/// return on a bad unit.
rlim_t limit_value(const LimitEntry& entry, const CharString& value, const CharString* unit);

/// limit [-h] [resource [value [unit]]]: shows or sets a limit.
void builtin_limit(WordVector& words, CommandNode& node);
/// unlimit [-h] [resource ...]: removes limits (all of them without a resource word).
void builtin_unlimit(WordVector& words, CommandNode& node);
/// umask [mask]: shows or sets the file-creation mask (octal).
void builtin_umask(WordVector& words, CommandNode& node);
