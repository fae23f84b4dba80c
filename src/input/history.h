// The history list: numbered events, and history substitution with the history character.
#pragma once

#include <cstdint>
#include <memory>

#include "input/word_list.h"

/// One numbered event.
struct HistoryEntry {
    WordList words;                        ///< the event's words, ending with the newline word
    std::int32_t event_number = 0;         ///< -1000 for a temporary substitution result
    std::int32_t reference_number = 0;     ///< the event number, raised when the event is used
    std::unique_ptr<HistoryEntry> next;    ///< the next older entry
};

struct HistoryState {
    std::unique_ptr<HistoryEntry> history_list;  ///< newest first
    std::int32_t current_event = 0;              ///< number of the last event entered
    int print_only = 0;                          ///< raised by :p: the line is shown, not run
    int hash_ref_budget = 11;                    ///< limits !# references in one line
};
extern HistoryState history;

/// Enters a line as the next event, pruning events beyond the limit of the variable history.
void history_save_line(const WordList& line);
/// Performs a history substitution started by c (the history character, the quick
/// substitution character, or 0 when called by the lexer after the history character).
void history_substitute(int c);
