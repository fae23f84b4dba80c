#include "input/word_list.h"

LexWord* WordList::insert_before(LexWord* pos, CharString word) {
    auto* node = new LexWord{std::move(word), pos->prev, pos};
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
        delete first;
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
