#include "builtins/alias_builtins.h"

#include <cstdio>
#include <vector>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/signals.h"
#include "expand/glob.h"
#include "input/history.h"
#include "vars/variables.h"

void builtin_alias(WordVector& words, CommandNode&) {
    if (words.size() == 1) {
        var_print_all(aliases);
        return;
    }
    if (words.size() == 2) {
        CharString name = words[1];
        str_strip(name);
        if (const WordVector* value = var_lookup(CharView(name), aliases)) {
            vec_print(output_stream, *value);
            std::fputc('\n', output_stream);
        }
        return;
    }
    // The name as typed, quote marks included: only a plain alias or unalias is refused.
    if (equals(words[1], "alias") || equals(words[1], "unalias")) {
        error_set_name(words[1]);
        error_raise(ERR_DANGEROUS_ALIAS | ERRF_NAME);
    }
    CharString name = words[1];
    str_strip(name);
    var_store(name, expand_value(WordVector(words.begin() + 2, words.end())), aliases);
    ++aliases_generation;
}

void builtin_unalias(WordVector& words, CommandNode&) {
    var_unset_matching(words, aliases);
    ++aliases_generation;
}

void builtin_history(WordVector& words, CommandNode&) {
    if (parse_number(var_value("history")) == 0) return;
    let_interrupts_through();
    bool numbers = true, reverse = false;
    std::size_t i = 1;
    for (; i < words.size() && !words[i].empty() && words[i][0] == '-'; ++i) {
        for (Char c : words[i]) {
            if (c == 'h') {
                numbers = false;
            } else if (c == 'r') {
                reverse = true;
            } else if (c != '-') {
                error_raise(ERR_HISTORY_USAGE);
            }
        }
    }
    std::int32_t n = parse_number(i < words.size() ? words[i] : var_value("history"));
    std::vector<const HistoryEntry*> shown = history_newest(n);
    auto print = [&](const HistoryEntry* e) {
        act_on_signals();
        if (numbers) std::fprintf(output_stream, "%6d\t", e->event_number);
        print_word_list(output_stream, e->words);
    };
    if (reverse) {
        for (const HistoryEntry* e : shown) print(e);
    } else {
        for (auto it = shown.rbegin(); it != shown.rend(); ++it) print(*it);
    }
    std::fflush(output_stream);
    hold_interrupts();
}
