#include "parse/keywords.h"

namespace {

// Byte order of two names, as the halving search expects of neighbouring rows.
constexpr bool name_before(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
}

constexpr bool table_is_sorted() {
    for (std::size_t i = 1; i < keyword_table.size(); ++i) {
        if (!name_before(keyword_table[i - 1].name, keyword_table[i].name)) return false;
    }
    return true;
}
static_assert(table_is_sorted(), "keyword_table must be sorted in byte order of its names");

// The character comparison of shell strings over a view and a row name: equal while both go on;
// the one that ends first is smaller; otherwise the signed difference of the two Chars.
int compare_word(CharView word, const char* name) {
    std::size_t i = 0;
    for (;; ++i) {
        Char a = i < word.size() ? word[i] : Char{0};
        Char b = static_cast<Char>(static_cast<unsigned char>(name[i]));
        if (a == 0) return b == 0 ? 0 : -1;
        if (b == 0) return 1;
        if (a != b) return a - b;
    }
}

}  // namespace

int keyword_lookup(CharView word) {
    // The first character is compared on its own first (signed, so a quoted one sorts below
    // every name), and the whole words only when it agrees.
    Char first = word.empty() ? Char{0} : word[0];
    std::size_t lo = 0;
    std::size_t hi = keyword_table.size();
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        const KeywordEntry& row = keyword_table[mid];
        int diff = first - static_cast<signed char>(row.name[0]);
        if (diff == 0) diff = compare_word(word, row.name);
        if (diff == 0) return row.code;
        if (diff < 0) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return -1;
}
