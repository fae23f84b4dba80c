// What many unit tests set up alike: captured output streams, and a guard that puts back the
// shell-wide state a test changes.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/descriptors.h"
#include "core/shell.h"
#include "vars/variables.h"

/// What was written on a stream since the last look; the stream is emptied for the next one.
std::string take_written(FILE* stream);

/// Points two stream variables, the shell's output and diagnostic streams unless others are
/// named, at temporary files for its lifetime; then closes what they hold and puts the old back.
class StreamCapture {
  public:
    /// Starts capturing what is written through out and diag.
    explicit StreamCapture(FILE*& out = output_stream, FILE*& diag = diagnostic_stream);
    /// Closes the captured streams and restores both variables.
    ~StreamCapture();
    StreamCapture(const StreamCapture&) = delete;             ///< one owner of the files
    StreamCapture& operator=(const StreamCapture&) = delete;  ///< one owner of the files

    /// What the output variable's stream received since the last look; emptied for the next.
    std::string output() { return take_written(out_); }
    /// What the diagnostic variable's stream received since the last look; emptied for the next.
    std::string diagnostics() { return take_written(diag_); }

  private:
    FILE*& out_;        ///< the variable captured as output
    FILE*& diag_;       ///< the variable captured as diagnostics
    FILE* saved_out_;   ///< what out_ held before
    FILE* saved_diag_;  ///< what diag_ held before
};

/// The parts of the shell-wide state a StateGuard keeps; combine them with |.
enum StatePart : unsigned {
    STATE_ERRORS = 1,       ///< the error state: cleared on entry and on exit
    STATE_SHELL_FLAGS = 2,  ///< shell: saved, and put back on exit
    STATE_VARIABLES = 4,    ///< shell_variables: emptied on entry, put back on exit
    STATE_ALIASES = 8,      ///< aliases: emptied on entry, put back on exit
    STATE_ENVIRONMENT = 16  ///< environ and env_words: saved, and put back on exit
};

/// Keeps the chosen parts of the shell-wide state for its lifetime and puts them back, in the
/// order of StatePart.
class StateGuard {
  public:
    /// Saves (or clears) the parts named by the StatePart bits.
    explicit StateGuard(unsigned parts);
    /// Puts every saved part back.
    ~StateGuard();
    StateGuard(const StateGuard&) = delete;             ///< restores once
    StateGuard& operator=(const StateGuard&) = delete;  ///< restores once

  private:
    unsigned parts_;                        ///< the StatePart bits kept
    ShellFlags shell_;                      ///< the saved shell flags
    VariableTree variables_;                ///< the saved variable store
    VariableTree aliases_;                  ///< the saved aliases
    std::vector<std::string> environment_;  ///< the saved environ strings
};

/// Takes exactly these NAME=value strings as the environment.
void set_environment(std::initializer_list<const char*> entries);
