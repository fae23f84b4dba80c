#include "input/word_list.h"

namespace {

// Nodes of freed lines are kept for the next ones, strings and all: a loop body read again
// allocates nothing for its words. The pool is bounded; beyond it nodes are freed.
constexpr int POOL_MAX = 512;
LexWord* pool = nullptr;
int pool_size = 0;

LexWord* new_node(CharString&& word) {
    if (!pool) return new LexWord{std::move(word), nullptr, nullptr};
    LexWord* node = pool;
    pool = node->next;
    --pool_size;
    if (word.empty()) {
        node->word.clear();  // keeps the room of the string
    } else {
        node->word = std::move(word);
    }
    return node;
}

void free_node(LexWord* node) noexcept {
    if (pool_size >= POOL_MAX || node->word.capacity() > 64) {
        delete node;
        return;
    }
    node->next = pool;
    pool = node;
    ++pool_size;
}

}  // namespace

LexWord* WordList::append_copy(CharView word) {
    LexWord* node = new_node(CharString());
    node->word.assign(word);
    node->prev = head_.prev;
    node->next = &head_;
    head_.prev->next = node;
    head_.prev = node;
    return node;
}

LexWord* WordList::insert_before(LexWord* pos, CharString word) {
    LexWord* node = new_node(std::move(word));
    node->prev = pos->prev;
    node->next = pos;
    pos->prev->next = node;
    pos->prev = node;
    return node;
}

void WordList::erase(LexWord* first, LexWord* end) noexcept {
    if (first == end) return;
    LexWord* before = first->prev;
    before->next = end;
    end->prev = before;
    while (first != end) {
        LexWord* next = first->next;
        free_node(first);
        first = next;
    }
}

void WordList::splice_before(LexWord* pos, WordList&, LexWord* first, LexWord* end) noexcept {
    if (first == end) return;
    LexWord* last = end->prev;
    // Unlink from the other list.
    first->prev->next = end;
    end->prev = first->prev;
    // Link in front of pos.
    first->prev = pos->prev;
    last->next = pos;
    pos->prev->next = first;
    pos->prev = last;
}

void print_word_list(FILE* stream, const WordList& list) {
    for (const LexWord* w = list.first(); w != list.head(); w = w->next) {
        if (w != list.first() && !(w->word.size() && w->word[0] == '\n')) std::fputc(' ', stream);
        std::fputs(to_visible(w->word), stream);
    }
}

void copy_word_list(WordList& dst, const WordList& src) {
    for (const LexWord* w = src.first(); w != src.head(); w = w->next) {
        dst.append(w->word);
        if (!w->word.empty() && w->word[0] == '\n') break;
    }
}
