#include "builtins/var_commands.h"

#include <cstdint>
#include <cstdio>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/pattern.h"
#include "core/signals.h"
#include "exec/command_hash.h"
#include "expand/expressions.h"
#include "expand/glob.h"
#include "vars/environment.h"
#include "vars/variables.h"

namespace {

bool is_letter(Char c) {
    return c == '_' || char_is_alpha(c);
}
bool is_name_char(Char c) {
    return c == '_' || char_is_alnum(c);
}

// A variable name and optional subscript read from the front of a word; rest is what follows.
struct NameRef {
    CharString name;
    bool has_subscript = false;
    int index = 0;
    CharString rest;
};

NameRef read_name(const CharString& p) {
    std::size_t n = 0;
    while (n < p.size() && is_name_char(p[n])) ++n;
    if (n == 0 || !is_letter(p[0])) error_raise(ERR_VAR_BEGIN_LETTER | ERRF_NAME);
    if (n > MAX_VAR_NAME) error_raise(ERR_VAR_NAME_TOO_LONG | ERRF_NAME);
    NameRef r;
    r.name = p.substr(0, n);
    if (n < p.size() && p[n] == '[') {
        r.has_subscript = true;
        std::size_t i = n + 1;
        if (i >= p.size() || is_quoted(p[i])) error_raise(ERR_SUBSCRIPT | ERRF_NAME);
        long index = 0;
        while (i < p.size() && p[i] >= '0' && p[i] <= '9') {
            if (index < 100000000) index = index * 10 + (p[i] - '0');
            ++i;
        }
        if (i >= p.size() || p[i] != ']') error_raise(ERR_SUBSCRIPT | ERRF_NAME);
        r.index = static_cast<int>(index);
        n = i + 1;
    }
    r.rest = p.substr(n);
    return r;
}

bool starts_with(const CharString& w, Char c) {
    return !w.empty() && w[0] == c;
}

// The value of an expression of words [cursor, ...) as a word.
CharString eval_word(const WordVector& words, std::size_t& cursor) {
    return format_number(eval_expression(words, cursor));
}

// A number as format_number writes it, of nine digits at most, so that the sum or difference
// of two stays well inside 32 bits; a minus sign only where minus_ok.
bool small_number(const CharString& word, bool minus_ok, std::int32_t& n) {
    std::size_t at = minus_ok && !word.empty() && word[0] == '-' ? 1 : 0;
    std::size_t digits = word.size() - at;
    if (digits == 0 || digits > 9 || (word[at] == '0' && digits > 1)) return false;
    n = 0;
    for (std::size_t i = at; i < word.size(); ++i) {
        if (word[i] < '0' || word[i] > '9') return false;
        n = n * 10 + (word[i] - '0');
    }
    if (at) n = -n;
    return true;
}

// current op operand, evaluated as an expression; an empty current word is left out.
CharString combine(const CharString& current, Char op, const CharString& operand) {
    // @ name++, --, += and -= on numbers, the common case, without the evaluator: it reads
    // these words as the same numbers and gives the same sum.
    std::int32_t a = 0, b = 0;
    if ((op == '+' || op == '-') && small_number(current, false, a) &&
        small_number(operand, true, b)) {
        return format_number(op == '+' ? a + b : a - b);
    }
    WordVector expr;
    if (!current.empty()) expr.push_back(current);
    expr.push_back(CharString(1, op));
    expr.push_back(operand);
    std::size_t cursor = 0;
    std::int32_t value = eval_expression(expr, cursor);
    if (cursor < expr.size()) error_raise(ERR_EXPRESSION_SYNTAX | ERRF_NAME);
    return format_number(value);
}

}  // namespace

void builtin_set(WordVector& words, CommandNode&) {
    if (words.size() == 1) {
        var_print_all(shell_variables);
        return;
    }
    std::size_t i = 1;
    while (i < words.size()) {
        NameRef ref = read_name(words[i++]);
        CharString value;
        if (!ref.rest.empty()) {
            if (ref.rest[0] != '=') error_raise(ERR_SYNTAX | ERRF_NAME);
            value = ref.rest.substr(1);
            if (value.empty() && i < words.size() && starts_with(words[i], '(')) {
                value = words[i++];
            }
        } else if (i < words.size() && words[i] == chars("=")) {
            ++i;
            if (i < words.size()) value = words[i++];
        }
        if (value == chars("(")) {
            if (ref.has_subscript) error_raise(ERR_SYNTAX | ERRF_NAME);
            std::size_t end = i;
            while (end < words.size() && !starts_with(words[end], ')')) ++end;
            if (end >= words.size()) error_raise(ERR_MISSING | ERRF_NAME, ')');
            WordVector list(words.begin() + static_cast<std::ptrdiff_t>(i),
                            words.begin() + static_cast<std::ptrdiff_t>(end));
            if (int kind = glob_classify(list)) {
                std::optional<WordVector> expanded = glob_words(list, kind);
                if (!expanded) error_raise(ERR_NO_MATCH | ERRF_NAME);
                list = std::move(*expanded);
            }
            var_store(CharView(ref.name), std::move(list), shell_variables);
            i = end + 1;
        } else if (ref.has_subscript) {
            var_check_element(ref.name, ref.index);
            var_set_element(ref.name, ref.index, glob_one(value, ONE_JOIN));
        } else {
            var_store(ref.name, expand_value({value}), shell_variables);
        }
        var_after_set(CharView(ref.name));
    }
}

void builtin_at(WordVector& original, CommandNode&) {
    if (original.size() == 1) {
        var_print_all(shell_variables);
        return;
    }
    WordVector words = original;  // words are rewritten where an operator carries its operand
    std::size_t i = 1;
    while (i < words.size()) {
        NameRef ref = read_name(words[i]);
        CharString op_text = ref.rest;
        if (op_text.empty()) {
            ++i;
            if (i >= words.size() || words[i].empty()) {
                error_raise(ERR_ASSIGN_MISSING_EXPR | ERRF_NAME);
            }
            op_text = words[i];
        }
        // words[i] is now the word that held the operator.
        Char op = op_text[0];
        CharString rest = op_text.substr(1);
        if (rest.empty() && i + 1 >= words.size()) error_raise(ERR_ASSIGN_MISSING_EXPR | ERRF_NAME);
        CharString name = ref.name;
        if (op == '=') {
            std::size_t cursor = i + 1;
            if (!rest.empty()) {
                words[i] = rest;
                cursor = i;
            }
            CharString value = eval_word(words, cursor);
            if (ref.has_subscript) {
                var_set_element(CharView(name), ref.index, value);
            } else {
                var_set(CharView(name), value);
            }
            i = cursor;
        } else {
            Char second = rest.empty() ? 0 : rest[0];
            CharString operand;
            std::size_t next = i + 1;
            if (second == '+' || second == '-') {
                if (second != op || rest.size() > 1) error_raise(ERR_UNKNOWN_OPERATOR | ERRF_NAME);
                operand = chars("1");
            } else {
                if (op == '<' || op == '>') {
                    if (second != op) error_raise(ERR_UNKNOWN_OPERATOR | ERRF_NAME);
                    error_raise(ERR_SYNTAX | ERRF_NAME);
                }
                if (second != '=') error_raise(ERR_UNKNOWN_OPERATOR | ERRF_NAME);
                std::size_t cursor = i + 1;
                if (rest.size() > 1) {
                    words[i] = rest.substr(1);
                    cursor = i;
                }
                operand = eval_word(words, cursor);
                next = cursor;
            }
            if (ref.has_subscript) {
                const WordVector* v = var_lookup(CharView(name));
                if (!v) error_undefined_variable(name);
                if (ref.index < 1 || static_cast<std::size_t>(ref.index) > v->size()) {
                    error_raise(ERR_SUBSCRIPT_RANGE | ERRF_NAME);
                }
                CharString element =
                    combine((*v)[static_cast<std::size_t>(ref.index) - 1], op, operand);
                var_set_element(CharView(name), ref.index, element);
            } else {
                var_set(CharView(name), combine(var_value(CharView(name)), op, operand));
            }
            i = next;
        }
        if (equals(name, "path")) var_after_set(name);  // exported and hashed
    }
}

void builtin_unset(WordVector& words, CommandNode&) {
    var_unset_matching(words, shell_variables);
    var_after_unset();
}

void builtin_shift(WordVector& words, CommandNode&) {
    CharString name = words.size() > 1 ? words[1] : chars("argv");
    str_strip(name);
    auto it = shell_variables.find(CharView(name));
    if (it == shell_variables.end()) error_undefined_variable(name);
    if (it->second.empty()) error_raise(ERR_NO_MORE_WORDS | ERRF_NAME);
    vec_drop_first(it->second, 1);
}

void builtin_setenv(WordVector& words, CommandNode&) {
    if (words.size() == 1) {
        let_interrupts_through();
        for (const CharString& w : env_words) {
            act_on_signals();
            std::fputs(to_visible(w), output_stream);
            std::fputc('\n', output_stream);
        }
        hold_interrupts();
        return;
    }
    CharString name = words[1];
    str_strip(name);
    CharString value = words.size() > 2 ? glob_one(words[2], ONE_JOIN) : CharString();
    env_set(CharView(name), CharView(value));
    if (name == chars("PATH")) {
        var_store(chars("path"), expand_value(path_components(value)), shell_variables);
        rehash_path();
    } else if (is_locale_variable(CharView(name))) {
        locale_reinit();
    }
}

// Each pattern removes the first matching entry and looks again from the start, until a pass
// finds nothing. An entry without "=" (a malformed environment handed to the shell) has no name
// to remove it by; it is passed over, else the walk would find it again for ever.
void builtin_unsetenv(WordVector& words, CommandNode&) {
    for (std::size_t a = 1; a < words.size(); ++a) {
        std::size_t from = 0;
        while (from < env_words.size()) {
            std::size_t i = from;
            CharString name;
            for (; i < env_words.size(); ++i) {
                const CharString& entry = env_words[i];
                name.assign(entry, 0, entry.find('='));
                if (pattern_match(name, words[a])) break;
            }
            if (i == env_words.size()) break;
            const std::size_t before = env_words.size();
            env_unset(CharView(name));
            if (env_words.size() == before) {
                from = i + 1;
                continue;
            }
            if (is_locale_variable(CharView(name))) locale_reinit();
            from = 0;
        }
    }
}
