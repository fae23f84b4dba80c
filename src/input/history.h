// The history list: numbered events, and history substitution with the history character.
//
// The lexer calls history_substitute when it reads the history character (or the quick
// substitution character at the start of an interactive line); the substitution selects an
// event, some of its words and applies modifiers, then hands the words to the lexer as if typed.
// Every error of a substitution is deferred: the line is read to its end and not run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "input/word_list.h"

struct HistoryEntry;
/// The events in the order of their last use, the least recently used first, keyed by
/// use_key; equal keys in any order.
using HistoryUseOrder = std::multimap<std::int64_t, HistoryEntry*>;

/// One numbered event.
struct HistoryEntry {
    WordList words;                      ///< the event's words, ending with the newline word
    std::int32_t event_number = 0;       ///< the event's number
    std::unique_ptr<HistoryEntry> next;  ///< the next older entry
    HistoryEntry* newer = nullptr;       ///< the next newer entry; null for the newest
    /// The reference number less the listings made before it was last set: a listing raises
    /// every reference number by one by counting itself, not by visiting every event.
    std::int64_t use_key = 0;
    HistoryUseOrder::iterator use;  ///< this event's place in the last-used order

    HistoryEntry() = default;
    HistoryEntry(const HistoryEntry&) = delete;
    HistoryEntry& operator=(const HistoryEntry&) = delete;
    /// Frees the older entries one after another, so that a long list does not recurse.
    ~HistoryEntry();
    /// The event number when entered, the number of the current event when selected by number
    /// since, raised by one by every listing.
    std::int32_t reference_number() const;
};

inline constexpr int SEARCH_TEXT_ROOM = 31;  ///< characters of a search text or left side
inline constexpr int RIGHT_TEXT_ROOM = 63;   ///< characters of the right side of :s
inline constexpr int HASH_REF_BUDGET = 11;   ///< !# references allowed per line, plus one

/// The history list and what substitutions remember from one to the next.
struct HistoryState {
    std::unique_ptr<HistoryEntry> history_list;  ///< newest first
    std::int32_t current_event = 0;              ///< number of the last event entered
    int print_only = 0;                          ///< raised by :p: the line is shown, not run
    int hash_ref_budget = HASH_REF_BUDGET;       ///< limits !# references in one line
    CharString search_text;  ///< the last search text; the default left side of :s
    CharString saved_left;   ///< the left side after the last modifier, for :&
    CharString right_text;   ///< the right side of the last :s
    /// The same events least recently used first: pruning takes them from its front, so that
    /// entering a line costs the same however long the list is.
    HistoryUseOrder last_used;
    /// The listings made, added to every use_key.
    std::int64_t listings = 0;
    /// While alias text is read: the node before the aliased command and the node ending it.
    /// The aliased command then stands in for the previous event.
    const LexWord* alias_event_start = nullptr;
    const LexWord* alias_event_end = nullptr;
};
extern HistoryState history;

/// Enters a line as the next event, pruning events not used within the limit of the variable
/// history; a line that is only a newline is not entered.
void history_save_line(const WordList& line);
/// Puts an event with the given number at the front: a copy of the words, or (without copy)
/// the nodes of the list itself.
void history_enter(std::int32_t number, WordList& words, bool copy);
/// Writes the history file when savehist asks for it.
void save_history();
/// The n newest events, newest first. Every event of the list counts the call as a use.
std::vector<const HistoryEntry*> history_newest(std::int32_t n);
/// The text of every event, newest first, as it would be typed again: its words with one blank
/// between them, without the newline. No use is counted.
std::vector<std::string> history_lines();
/// Performs a history substitution started by c (the quick substitution character at the start
/// of a line, or 0 when called by the lexer after the history character). The result is left
/// for the lexer to read; errors are deferred.
void history_substitute(int c);
