// The input floor alone: a line of text read and split into words, without the executor.
#include <gtest/gtest.h>

#include <string>

#include "core/errors.h"
#include "input/input_buffer.h"
#include "input/lexer.h"

TEST(InputFloor, LexesALine) {
    errors = ErrorState{};
    lex_reset();
    input = InputState{};
    CharString text = chars("ls -l *.c|wc>out&\n");
    input.command_string = &text;
    WordList line;
    lex_line(line);
    std::string words;
    for (LexWord* w = line.first(); w != line.head(); w = w->next) {
        words += w->word[0] == '\n' ? std::string("NL") : to_bytes(w->word);
        words += ' ';
    }
    EXPECT_EQ(words, "ls -l *.c | wc > out & NL ");
    input = InputState{};
    lex_reset();
}
