#include "vars/variables.h"

#include <cstdio>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/pattern.h"
#include "core/process_exit.h"
#include "core/shell.h"
#include "core/signals.h"

VariableTree shell_variables;
VariableTree aliases;
std::uint64_t aliases_generation = 0;
bool filec_enabled = false;
bool edit_enabled = false;

namespace {

// ---- Helpers --------------------------------------------------------------------------------

// Orders a Char name against a byte name: each byte is the plain Char of the same value.
int compare_mixed(CharView a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        Char x = a[i];
        Char y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

const CharString empty_value;

// The variables with a meaning to the shell, as start-up installed them.
std::span<const SpecialVariable> special_variables;

template <class Name>
const CharString& first_word(const Name& name) {
    const WordVector* value = var_lookup(name);
    return value && !value->empty() ? value->front() : empty_value;
}

}  // namespace

bool NameLess::operator()(CharView a, std::string_view b) const noexcept {
    return compare_mixed(a, b) < 0;
}

bool NameLess::operator()(std::string_view a, CharView b) const noexcept {
    return compare_mixed(b, a) > 0;
}

// ---- Lookup -----------------------------------------------------------------------------------

const WordVector* var_lookup(CharView name, const VariableTree& tree) {
    auto it = tree.find(name);
    return it == tree.end() ? nullptr : &it->second;
}

const WordVector* var_lookup(std::string_view name, const VariableTree& tree) {
    auto it = tree.find(name);
    return it == tree.end() ? nullptr : &it->second;
}

const CharString& var_value(CharView name) {
    return first_word(name);
}
const CharString& var_value(std::string_view name) {
    return first_word(name);
}

// ---- Store ------------------------------------------------------------------------------------

void var_store(CharView name, WordVector value, VariableTree& tree) {
    for (CharString& word : value) str_strip(word);
    auto it = tree.lower_bound(name);
    if (it != tree.end() && CharView(it->first) == name) {
        it->second = std::move(value);
    } else {
        tree.emplace_hint(it, CharString(name), std::move(value));
    }
}

void var_set(CharView name, CharString word) {
    WordVector value;
    value.push_back(std::move(word));
    var_store(name, std::move(value), shell_variables);
}

void var_set(std::string_view name, CharString word) {
    var_set(to_char_string(name), std::move(word));
}

void var_set_empty(CharView name) {
    var_set(name, CharString());
}

namespace {

WordVector& element_room(CharView name, int index) {
    auto it = shell_variables.find(name);
    if (it == shell_variables.end()) error_undefined_variable(CharString(name));
    WordVector& value = it->second;
    if (index < 1 || static_cast<std::size_t>(index) > value.size()) {
        error_raise(ERR_SUBSCRIPT_RANGE | ERRF_NAME);
    }
    return value;
}

}  // namespace

void var_check_element(CharView name, int index) {
    element_room(name, index);
}

// Every check comes before the change, so an error leaves the variable as it was.
void var_set_element(CharView name, int index, CharString word) {
    WordVector& value = element_room(name, index);
    str_strip(word);
    value[static_cast<std::size_t>(index) - 1] = std::move(word);
}

// ---- Removal ----------------------------------------------------------------------------------

void var_unset(CharView name) {
    auto it = shell_variables.find(name);
    if (it == shell_variables.end()) error_undefined_variable(CharString(name));
    shell_variables.erase(it);
}

VariableTree::iterator var_find_match(const CharString& pattern, VariableTree& tree,
                                      VariableTree::iterator from) {
    for (; from != tree.end(); ++from) {
        if (pattern_match(from->first, pattern)) break;
    }
    return from;
}

// Erasing returns the next entry in name order, so each pattern takes one pass over the tree.
void var_unset_matching(const WordVector& words, VariableTree& tree) {
    for (std::size_t i = 1; i < words.size(); ++i) {
        auto it = tree.begin();
        while ((it = var_find_match(words[i], tree, it)) != tree.end()) it = tree.erase(it);
    }
}

// ---- Listing ----------------------------------------------------------------------------------

void var_print_all(const VariableTree& tree) {
    // An interrupt is let through for the length of the listing and acts between two lines.
    let_interrupts_through();
    for (const auto& [name, value] : tree) {
        act_on_signals();
        std::fputs(to_byte_string(name), output_stream);
        std::fputc('\t', output_stream);
        if (value.size() == 1) {
            vec_print(output_stream, value);
        } else {
            std::fputc('(', output_stream);
            vec_print(output_stream, value);
            std::fputc(')', output_stream);
        }
        std::fputc('\n', output_stream);
    }
    hold_interrupts();
}

// ---- Numbers ----------------------------------------------------------------------------------

// Does not return on a malformed number.
std::int32_t parse_number(const CharString& word) {
    std::size_t i = 0;
    const std::size_t n = word.size();
    if (n >= 2 && word[0] == '+') i = 1;
    bool negative = false;
    if (i < n && word[i] == '-') {
        negative = true;
        ++i;
        if (i == n || !char_is_digit(word[i])) error_raise(ERR_BAD_NUMBER | ERRF_NAME);
    }
    if (i < n && is_quoted(word[i])) error_raise(ERR_BAD_NUMBER | ERRF_NAME);
    std::uint32_t value = 0;  // wraps modulo 2^32, as the arithmetic does
    for (; i < n && char_is_digit(word[i]); ++i) {
        value = value * 10 + static_cast<std::uint32_t>(word[i] - '0');
    }
    if (i != n) error_raise(ERR_BAD_NUMBER | ERRF_NAME);
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

void format_number_into(CharString& word, std::int32_t n) {
    Char digits[11];  // a sign and ten digits hold every 32-bit number
    std::size_t pos = sizeof digits / sizeof digits[0];
    const std::size_t end = pos;
    std::uint32_t magnitude =
        n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    do {
        digits[--pos] = static_cast<Char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (n < 0) digits[--pos] = '-';
    word.assign(digits + pos, end - pos);
}

CharString format_number(std::int32_t n) {
    CharString word;
    format_number_into(word, n);
    return word;
}

// Runs after every command: a status of one word is rewritten in place, which allocates
// nothing once the word has held a number as long. A number has nothing to expand, so the
// value is stored directly.
void set_status(int n) {
    auto it = shell_variables.find(std::string_view("status"));
    if (it != shell_variables.end() && it->second.size() == 1) {
        format_number_into(it->second.front(), n);
        return;
    }
    WordVector value;
    value.push_back(format_number(n));
    var_store(to_char_string("status"), std::move(value), shell_variables);
}

void set_status_after_error() {
    set_status(1);
}

void exit_with_status() {
    shell.fork_depth = 1;
    std::int32_t status = parse_number(var_value("status"));
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    exit_now(status);
}

// ---- Variables with a meaning to the shell --------------------------------------------------

void var_install_specials(std::span<const SpecialVariable> table) {
    special_variables = table;
}

void var_after_set(CharView name) {
    for (const SpecialVariable& v : special_variables) {
        if (v.after_set && equals(name, v.name)) v.after_set();
    }
}

void var_after_unset() {
    for (const SpecialVariable& v : special_variables) {
        if (v.after_unset && !var_lookup(std::string_view(v.name))) v.after_unset();
    }
}
