#include "exec/command_subst.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "exec/executor.h"
#include "exec/redirections.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "jobs/process_table.h"
#include "parse/aliases.h"
#include "parse/parser.h"
#include "vars/variables.h"

namespace {

constexpr std::size_t WORD_ROOM = 1019;

// Reads, parses and runs one line of commands in a child, then ends the child with status.
[[noreturn]] void run_line_in_child(WordList& line) {
    expand_aliases(line);
    CommandTree tree = parse_commands(line.first(), line.head(), 0);
    error_raise_pending();
    if (tree) tree->node_flags |= FLAG_NO_FORK;
    execute_tree(tree.get(), JobGroup::NONE, nullptr, nullptr);
    exit_with_status();
}

// A pseudo command under which a child appears in job reports.
CommandNode pseudo_command(const char* name) {
    CommandNode node;
    node.node_type = CMD_SIMPLE;
    node.words.push_back(chars(name));
    return node;
}

// Collects the words of a command's output.
class OutputWords {
  public:
    OutputWords(WordVector& words, bool quoted_mode, bool literal)
        : words_(words), quoted_(quoted_mode), literal_(literal) {}

    // Appends one character to the open word; false when the word is full.
    [[nodiscard]] bool add(Char c) {
        if (current_.size() >= WORD_ROOM) return false;
        current_ += c;
        return true;
    }
    // Ends the open word: kept when it has characters, or always in literal mode.
    void end_word() {
        if (!current_.empty() || literal_) words_.push_back(std::move(current_));
        current_.clear();
    }
    // Takes one byte of the output; false when it would make a word too long.
    [[nodiscard]] bool byte(unsigned char b, bool last) {
        if (b == '\n') {
            if (!last) end_word();
        } else if ((!quoted_ && (b == ' ' || b == '\t')) || b == 0) {
            end_word();
        } else {
            return add(quoted_ ? quoted(b) : static_cast<Char>(b));
        }
        return true;
    }
    CharString& current() { return current_; }

  private:
    WordVector& words_;
    bool quoted_, literal_;
    CharString current_;
};

// Runs one command text and adds its output to the words. "Word too long" is raised only once
// the child is collected, so that no job of it is left behind.
void run_and_collect(const CharString& command, OutputWords& out) {
    fds_check_fixed_numbers();  // else the child's output would miss the pipe
    PipeEnds p;
    make_pipe(p);
    hold_job_in_progress();
    CommandNode node = pseudo_command("` ... `");
    pid_t pid = fork_child(&node, JobGroup::NONE);
    if (pid == 0) {
        dup2(p.fd[1], 1);
        dup2(fds.shell_diag, 2);
        close(p.fd[0]);
        close(p.fd[1]);
        // The shell input and the saved standard input become copies of 0. Where 0 is closed
        // (a shell started without a standard input), the copies must not stay the shell's
        // own descriptors: a command reading its input would read the shell's script.
        if (fcntl(0, F_GETFD) < 0) {
            close(SHELL_IN_FD);
            close(SAVED_STDIN_FD);
        }
        if (int err = init_descriptors()) fd_copy_failed(err);
        static CharString text;
        text = command;
        str_strip(text);
        input = InputState{};
        input.command_string = &text;
        input.descriptor_finished = true;  // the text is all its input
        lex_reset();
        signal(SIGTSTP, SIG_IGN);
        signal(SIGTTIN, SIG_IGN);
        signal(SIGTTOU, SIG_IGN);
        WordList line;
        lex_line(line);
        run_line_in_child(line);
    }
    close(p.fd[1]);
    // Bytes are handled one behind, so that the very last newline can be told apart.
    char buf[1024];
    int pending = -1;
    bool fits = true;
    while (fits) {
        ssize_t n = read(p.fd[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n && fits; ++i) {
            if (pending >= 0) fits = out.byte(static_cast<unsigned char>(pending), false);
            pending = static_cast<unsigned char>(buf[i]);
        }
    }
    if (fits && pending >= 0) fits = out.byte(static_cast<unsigned char>(pending), true);
    // Closed before the wait: a child still writing ends on the broken pipe.
    close(p.fd[0]);
    wait_for_job_in_progress();
    restore_job_in_progress();
    if (!fits) error_raise(ERR_WORD_TOO_LONG);
}

}  // namespace

void command_substitute(const CharString& word, bool literal, WordVector& words) {
    OutputWords out(words, false, literal);
    std::size_t i = 0;
    for (;;) {
        // Text up to a plain backquote joins the open word.
        while (i < word.size() && word[i] != '`') {
            if (!out.add(word[i++])) error_raise(ERR_WORD_TOO_LONG);
        }
        if (i >= word.size()) {
            if (!out.current().empty()) out.end_word();
            return;
        }
        std::size_t start = ++i;
        while (i < word.size() && word[i] != '`') {
            if (word[i] == '\\' && i + 1 < word.size()) ++i;
            ++i;
        }
        if (i >= word.size()) error_raise(ERR_UNMATCHED, '`');
        CharString command = word.substr(start, i - start);
        ++i;
        bool quoted_mode = literal || (!command.empty() && is_quoted(command[0]));
        OutputWords collector(words, quoted_mode, literal);
        collector.current() = std::move(out.current());
        out.current().clear();
        run_and_collect(command, collector);
        out.current() = std::move(collector.current());
    }
}

std::int32_t run_brace_command(const WordVector& words, std::size_t first, std::size_t end) {
    hold_job_in_progress();
    CommandNode node = pseudo_command("{ ... }");
    pid_t pid = fork_child(&node, JobGroup::NONE);
    if (pid == 0) {
        set_status(0);
        WordList line;
        for (std::size_t i = first; i < end; ++i) line.append(words[i]);
        line.append(chars("\n"));
        run_line_in_child(line);
    }
    wait_for_job_in_progress();
    restore_job_in_progress();
    return parse_number(var_value("status"));
}
