// The command hash table: which directories of path may hold a program of a given name, so
// that a search tries only those. A false positive costs one failed attempt; the table never
// makes a wrong program run.
#pragma once

#include <cstdint>

#include "core/chars.h"

inline constexpr int HASH_BITS = 8192;
inline constexpr unsigned HASH_MULTIPLIER = 243;

struct CommandHash {
    std::uint8_t bits[HASH_BITS / 8] = {};  ///< bit b: a directory i holds a name n with
                                            ///< (hash(n) * 243 + i) mod 8192 == b
    bool hash_enabled = false;              ///< consulted only after rehash
    std::int32_t hash_hits = 0;             ///< searches that found their program
    std::int32_t hash_misses = 0;           ///< directories tried in vain
};
extern CommandHash command_hash;

/// The hash of a name (quote marks ignored).
unsigned hash_name(CharView name);
/// The hash of a byte name.
unsigned hash_name(const char* name);
/// True when directory index i of path may hold a program whose name hashes to start / 243.
bool hash_may_contain(unsigned start, std::size_t i);
/// Rebuilds the table from the current path and switches it on.
void rehash_path();
