#include "expand/glob.h"

#include <pwd.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/pattern.h"
#include "exec/reentry.h"
#include "platform/system_glob.h"
#include "vars/variables.h"

// Syntax characters are compared as plain Chars, so a quoted one (negative) never counts.

namespace {

constexpr Char BACKQUOTE = '`';

bool variable_is_set(std::string_view name) {
    return var_lookup(name) != nullptr;
}

}  // namespace

// ---- Classification -----------------------------------------------------------------------------

int glob_classify(const WordVector& words) {
    int kind = 0;
    for (const CharString& w : words) {
        if (is_lone_brace(w)) continue;
        if (!w.empty() && (w[0] == '~' || w[0] == '=')) kind |= EXP_SPECIAL;
        for (std::size_t i = 0; i < w.size(); ++i) {
            const Char c = w[i];
            if (c == BACKQUOTE) {
                kind |= EXP_SPECIAL;
                for (++i; i < w.size() && w[i] != BACKQUOTE; ++i) {
                    if (w[i] == '\\') ++i;
                }
            } else if (c == '{') {
                kind |= EXP_SPECIAL;
            } else if (char_is(c, CC_GLOB)) {
                kind |= EXP_WILDCARD;
            }
        }
        if (kind == (EXP_WILDCARD | EXP_SPECIAL)) break;
    }
    return kind;
}

// ---- Expansion ----------------------------------------------------------------------------------

std::optional<WordVector> glob_words(const WordVector& words, int kind) {
    if (words.empty()) return words;
    WordVector v = (kind & EXP_SPECIAL) ? expand_special(words) : words;
    if ((kind & EXP_WILDCARD) && !variable_is_set("noglob")) return system_glob(v);
    clear_quote_marks(v);
    return v;
}

WordVector glob_arguments(const WordVector& words, ErrorCode no_match) {
    WordVector args(words.begin() + 1, words.end());
    if (int kind = glob_classify(args)) {
        std::optional<WordVector> out = glob_words(args, kind);
        if (!out) error_raise(no_match);
        return std::move(*out);
    }
    clear_quote_marks(args);
    return args;
}

WordVector expand_value(WordVector value) {
    const int kind = glob_classify(value);
    if (kind == 0) return value;
    std::optional<WordVector> expanded = glob_words(value, kind);
    if (!expanded) error_raise(ERR_NO_MATCH | ERRF_NAME);
    return std::move(*expanded);
}

CharString glob_one(const CharString& word, int mode) {
    WordVector v{word};
    const int kind = glob_classify(v);
    if (kind == 0) {
        CharString out = word;
        str_strip(out);
        return out;
    }
    if (kind & EXP_SPECIAL) v = expand_special(v);
    if ((kind & EXP_WILDCARD) && !variable_is_set("noglob")) {
        std::optional<WordVector> names = system_glob(v);
        if (!names) {
            error_set_name(word);
            error_raise(ERR_NO_MATCH | ERRF_NAME);
        }
        v = std::move(*names);
    }
    CharString out;
    if (v.size() == 1 || (v.size() > 1 && mode == ONE_FIRST)) {
        out = std::move(v[0]);
    } else if (v.size() > 1) {
        if (mode != ONE_JOIN) {
            error_set_name(word);
            error_raise(ERR_AMBIGUOUS | ERRF_NAME);
        }
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i > 0) out += Char(' ');
            out += v[i];
        }
    }
    str_strip(out);
    return out;
}

WordVector expand_special(const WordVector& words) {
    WordVector out;
    out.reserve(words.size());
    for (const CharString& w : words) {
        if (w.find(BACKQUOTE) == CharString::npos) {
            out.push_back(w);
            continue;
        }
        reentry.command_substitute(w, false, out);
    }
    if (variable_is_set("noglob")) return out;
    brace_expand(out);
    for (CharString& w : out) {
        if (!w.empty() && w[0] == '~') w = tilde_expand(w);
    }
    return out;
}

CharString tilde_expand(const CharString& word) {
    // The name is read into a buffer of 1024 characters: at most 1023 and the terminator.
    constexpr std::size_t NAME_LIMIT = 1023;
    std::size_t end = 1;
    while (end < word.size() && end - 1 < NAME_LIMIT) {
        const int c = trim(word[end]);
        if (c == '/' || c == ':') break;
        ++end;
    }
    const CharView name(word.data() + 1, end - 1);
    CharString out;
    if (name.empty()) {
        const CharString& home = var_value("home");
        if (home.empty()) error_raise(ERR_NO_HOME_VAR);
        out = home;
    } else {
        const passwd* pw = getpwnam(to_byte_string(name));
        if (!pw) error_raise(ERR_UNKNOWN_USER, to_visible(name));
        out = to_char_string(pw->pw_dir);
    }
    out.append(word, end, CharString::npos);
    return out;
}

std::optional<WordVector> system_glob(const WordVector& words) {
    const bool nocheck = variable_is_set("nonomatch");
    std::vector<std::string> paths;
    bool magic = false;
    bool matched = false;
    for (const CharString& w : words) {
        GlobReport report;
        const int rc = glob_quoted(to_escaped_bytes(w), nocheck, paths, report);
        if (rc == GLOB_STATUS_NOSPACE) error_raise(ERR_NO_MEMORY);
        if (rc != GLOB_STATUS_OK) {
            error_set_name(w);
            error_raise(ERR_INTERNAL_GLOB | ERRF_NAME);
        }
        if (report.magic) {
            magic = true;
            matched = matched || report.matched;
        }
    }
    if (paths.empty() || (magic && !matched && !nocheck)) return std::nullopt;
    WordVector out;
    out.reserve(paths.size());
    for (const std::string& p : paths) out.push_back(to_char_string(p));
    return out;
}
