#include "exec/command_hash.h"

#include <dirent.h>

#include <cstring>

#include "vars/variables.h"

CommandHash command_hash;

namespace {
void set_bit(unsigned b) {
    command_hash.bits[b >> 3] |= static_cast<std::uint8_t>(1u << (b & 7));
}
}  // namespace

unsigned hash_name(CharView name) {
    unsigned h = 0;
    for (Char c : name) h = (h * HASH_MULTIPLIER + static_cast<unsigned>(c & TRIM)) % HASH_BITS;
    return h;
}

unsigned hash_name(const char* name) {
    unsigned h = 0;
    for (; *name; ++name) {
        h = (h * HASH_MULTIPLIER + static_cast<unsigned char>(*name)) % HASH_BITS;
    }
    return h;
}

bool hash_may_contain(unsigned start, std::size_t i) {
    unsigned b = static_cast<unsigned>((start + i) % HASH_BITS);
    return (command_hash.bits[b >> 3] >> (b & 7)) & 1;
}

void rehash_path() {
    command_hash.hash_enabled = true;
    std::memset(command_hash.bits, 0, sizeof command_hash.bits);
    const WordVector* path = var_lookup("path");
    if (!path) return;
    for (std::size_t i = 0; i < path->size(); ++i) {
        const CharString& dir = (*path)[i];
        if (dir.empty() || dir[0] != '/') continue;
        DIR* d = opendir(to_byte_string(dir));
        if (!d) continue;
        while (struct dirent* e = readdir(d)) {
            if (e->d_ino == 0) continue;
            if (e->d_name[0] == '.' &&
                (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0'))) {
                continue;
            }
            set_bit(
                static_cast<unsigned>((hash_name(e->d_name) * HASH_MULTIPLIER + i) % HASH_BITS));
        }
        closedir(d);
    }
}
