#include "test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <utility>

#include "core/errors.h"
#include "vars/environment.h"

namespace {

// Takes a list of NAME=value strings as the environment; env_init copies them.
void init_environment(std::vector<char*> envp) {
    envp.push_back(nullptr);
    env_init(envp.data());
}

}  // namespace

std::string take_written(FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string out;
    for (int c; (c = std::fgetc(stream)) != EOF;) out += static_cast<char>(c);
    std::rewind(stream);
    if (ftruncate(fileno(stream), 0) != 0) ADD_FAILURE() << "cannot empty the capture file";
    return out;
}

StreamCapture::StreamCapture(FILE*& out, FILE*& diag)
    : out_(out), diag_(diag), saved_out_(out), saved_diag_(diag) {
    out_ = std::tmpfile();
    diag_ = std::tmpfile();
}

StreamCapture::~StreamCapture() {
    std::fclose(out_);
    std::fclose(diag_);
    out_ = saved_out_;
    diag_ = saved_diag_;
}

StateGuard::StateGuard(unsigned parts) : parts_(parts) {
    if (parts_ & STATE_ERRORS) errors = ErrorState{};
    if (parts_ & STATE_SHELL_FLAGS) shell_ = shell;
    if (parts_ & STATE_VARIABLES) variables_ = std::exchange(shell_variables, {});
    if (parts_ & STATE_ALIASES) aliases_ = std::exchange(aliases, {});
    if (parts_ & STATE_ENVIRONMENT) {
        for (char** p = environ; p && *p; ++p) environment_.emplace_back(*p);
    }
}

StateGuard::~StateGuard() {
    if (parts_ & STATE_ERRORS) errors = ErrorState{};
    if (parts_ & STATE_SHELL_FLAGS) shell = shell_;
    if (parts_ & STATE_VARIABLES) shell_variables = std::move(variables_);
    if (parts_ & STATE_ALIASES) aliases = std::move(aliases_);
    if (parts_ & STATE_ENVIRONMENT) {
        std::vector<char*> envp;
        for (std::string& s : environment_) envp.push_back(s.data());
        init_environment(std::move(envp));
    }
}

void set_environment(std::initializer_list<const char*> entries) {
    std::vector<char*> envp;
    for (const char* s : entries) envp.push_back(const_cast<char*>(s));
    init_environment(std::move(envp));
}
