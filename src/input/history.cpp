#include "input/history.h"

#include "input/lexer.h"
#include "vars/variables.h"

HistoryState history;

namespace {

// The limit of the list: the first word of history as decimal digits; anything else is 0.
std::int32_t history_limit() {
    const CharString& v = var_value("history");
    std::int32_t n = 0;
    for (Char c : v) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

void history_save_line(const WordList& line) {
    if (line.empty() || (!line.first()->word.empty() && line.first()->word[0] == '\n')) return;
    std::int32_t limit = history_limit();
    // Drop every entry not used within the last limit events, keeping the list's order.
    std::unique_ptr<HistoryEntry>* link = &history.history_list;
    while (*link) {
        if (history.current_event - (*link)->reference_number >= limit) {
            *link = std::move((*link)->next);
        } else {
            link = &(*link)->next;
        }
    }
    auto entry = std::make_unique<HistoryEntry>();
    entry->event_number = entry->reference_number = ++history.current_event;
    copy_word_list(entry->words, line);
    entry->next = std::move(history.history_list);
    history.history_list = std::move(entry);
}

// Substitution of events is not built yet: the history character stands for itself.
void history_substitute(int c) {
    if (c == 0) {
        unget_char(lexer.history_char);
    } else {
        unread_char(c);
    }
}
