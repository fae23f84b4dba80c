// The words of one line, as the lexer delivers them.
#pragma once

#include <cstdio>

#include "core/chars.h"

/// One word of a line.
struct LexWord {
    CharString word;
    LexWord* prev = nullptr;
    LexWord* next = nullptr;
};

/// A circular doubly linked list of words with a sentinel head whose word is empty. The words
/// of a line end with a word whose first character is a newline; every operator is a word of its
/// own. A range of a list is half-open: [first, end), where end may be the head.
class WordList {
  public:
    WordList() noexcept { head_.prev = head_.next = &head_; }
    ~WordList() { clear(); }
    WordList(const WordList&) = delete;
    WordList& operator=(const WordList&) = delete;

    LexWord* head() noexcept { return &head_; }
    const LexWord* head() const noexcept { return &head_; }
    LexWord* first() noexcept { return head_.next; }
    const LexWord* first() const noexcept { return head_.next; }
    bool empty() const noexcept { return head_.next == &head_; }

    /// Appends a word at the end; returns its node.
    LexWord* append(CharString word) { return insert_before(&head_, std::move(word)); }
    /// Appends a copy of a word at the end (reusing the room of a freed node); returns its node.
    LexWord* append_copy(CharView word);
    /// Inserts a word before pos; returns its node.
    LexWord* insert_before(LexWord* pos, CharString word);
    /// Unlinks and frees the nodes of [first, end).
    void erase(LexWord* first, LexWord* end) noexcept;
    /// Moves the nodes of [first, end) of other in front of pos.
    void splice_before(LexWord* pos, WordList& other, LexWord* first, LexWord* end) noexcept;
    /// Frees every node, leaving the list empty.
    void clear() noexcept { erase(head_.next, &head_); }

  private:
    LexWord head_;
};

/// Writes the words in visible form, one blank between them and none before a newline word.
void print_word_list(FILE* stream, const WordList& list);
/// Appends to dst copies of the words of src up to and including the first newline word.
void copy_word_list(WordList& dst, const WordList& src);
/// Frees every word of the list.
inline void free_word_list(WordList& list) {
    list.clear();
}
