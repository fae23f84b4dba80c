// Runs the lexer and the parser over arbitrary bytes, line after line, as the command loop
// would, without running anything: no input may crash them, hang them or leak.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/descriptors.h"
#include "core/errors.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "parse/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FILE* sink = std::fopen("/dev/null", "w");
    output_stream = diagnostic_stream = sink;
    WordVector words{to_char_string(std::string_view(reinterpret_cast<const char*>(data), size))};
    input = InputState{};
    input.eval.words = &words;
    input_done = false;
    lex_reset();
    // Each pass reads one line; the end of the words unwinds with input_done set.
    for (int lines = 0; lines < 100000 && !input_done; ++lines) {
        errors = ErrorState{};
        run_recovering([] {
            WordList line;
            lex_line(line);
            CommandTree tree = parse_commands(line.first(), line.head(), 0);
        });
    }
    input = InputState{};
    errors = ErrorState{};
    lex_reset();
    return 0;
}
