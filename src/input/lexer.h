// The lexer: input characters become the words of a line.
//
// Quote characters stay inside the words (substitution interprets them later); only characters
// escaped with a backslash are marked QUOTE here. Errors are deferred: the line is read to its
// end and the command loop reports the first one.
#pragma once

#include "core/chars.h"
#include "input/input_buffer.h"
#include "input/word_list.h"

/// Request bits of get_char.
enum : int {
    SUB_DOLLAR = 1,   ///< scan $ constructs
    SUB_HISTORY = 2,  ///< perform history substitution
    SUB_ALL = 3,
};

inline constexpr int WORD_BUFFER_SIZE = 1024;  ///< a word holds at most 1019 characters
inline constexpr int LOOKAHEAD_SIZE = 1024;

struct LexerState {
    int lex_pushback = 0;       ///< one character pushed back by unget_char; 0 none
    CharString lookahead_text;  ///< text put back by lex_push_text, read from lookahead_pos
    std::size_t lookahead_pos = 0;
    int lex_deferred = 0;          ///< one character pushed back by unget_deferred; 0 none
    WordVector history_words;      ///< the words of a history substitution being delivered
    std::size_t history_word = 0;  ///< index of the current history word
    std::size_t history_pos = 0;   ///< position in it
    bool history_active = false;   ///< history words are being delivered
    bool had_history = false;      ///< history substitution took place on this line
    int history_char = '!';        ///< the history character; 0 disables
    int quick_sub_char = '^';      ///< the quick substitution character; 0 disables
    InputPosition line_start{};    ///< where the line being read began
    const WordList* current_words = nullptr;  ///< the words of the line read so far (for !#)
};
extern LexerState lexer;

/// Reads one line into the empty list; returns whether history substitution took place.
bool lex_line(WordList& line);
/// The next lexical character, with QUOTE possibly set.
int get_char(int request);
/// Pushes one character back in front of every source.
void unget_char(int c);
/// Pushes one character back behind the lookahead text.
void unget_deferred(int c);
/// Inserts text in front of the unread lookahead ("Expansion buffer overflow" when too long).
void lex_push_text(CharView text);
/// Clears every pushed-back character and the lookahead.
void lex_reset();
/// True when nothing is pushed back or put ahead and no history words are being delivered:
/// the next character the lexer reads is the input's.
bool lex_idle();
