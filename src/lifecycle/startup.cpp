#include "lifecycle/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "builtins/source_eval.h"
#include "builtins/table.h"
#include "complete/completion.h"
#include "complete/line_editor.h"
#include "core/build_info.h"
#include "core/chars.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/process_exit.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "dirs/directory_stack.h"
#include "exec/command_hash.h"
#include "exec/command_subst.h"
#include "exec/reentry.h"
#include "expand/glob.h"
#include "input/history.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "jobs/process_table.h"
#include "jobs/usage.h"
#include "lifecycle/command_loop.h"
#include "lifecycle/interrupts.h"
#include "lifecycle/prompt.h"
#include "lifecycle/shutdown.h"
#include "lifecycle/special_variables.h"
#include "vars/environment.h"
#include "vars/variables.h"

namespace {

constexpr std::size_t HOME_MAX = 1023;

// The option letters and what they leave for later steps.
struct Options {
    bool command = false;        // -c
    bool one_line = false;       // -t
    bool from_stdin = false;     // -s
    bool batch = false;          // -b
    bool verbose_later = false;  // -v
    bool echo_later = false;     // -x
    CharString command_text;
};

// What --help prints.
constexpr char USAGE[] =
    "usage: orv [-bcefimnqstvVxX] [script [argument ...]]\n"
    "       orv [options] -c text [argument ...]\n"
    "       orv -l\n"
    "       orv --version | --help\n"
    "\n"
    "  -b  the options end here; the next argument is the script\n"
    "  -c  run the commands of text, then exit\n"
    "  -e  exit at the first error or failing command\n"
    "  -f  fast start: no start-up files, no history file\n"
    "  -i  interactive, even when the input is not a terminal\n"
    "  -l  a login shell (only as the sole argument)\n"
    "  -m  read ~/.orvrc and ~/.login without checking their status\n"
    "  -n  parse commands without running them\n"
    "  -q  SIGQUIT keeps its default action; no job control\n"
    "  -s  read commands from the standard input\n"
    "  -t  read and run one line, then exit\n"
    "  -v  set verbose after the start-up files (-V: before them)\n"
    "  -x  set echo after the start-up files (-X: before them)\n"
    "\n"
    "Letters may share one word (-fe). --version and --help count only as the first\n"
    "argument; elsewhere a word beginning with - is option letters. The manual: man orv\n";

// --version or --help as the first argument: prints on the standard output and ends the shell,
// with status 1 when the text could not be written.
[[noreturn]] void print_long_option(const char* word) {
    if (std::strcmp(word, "--version") == 0) {
        std::fprintf(output_stream, "orv %s\n", ORV_VERSION);
    } else {
        std::fputs(USAGE, output_stream);
    }
    const bool written = std::fflush(output_stream) == 0 && !std::ferror(output_stream);
    exit_now(written ? 0 : 1);
}

// The -c text outlives the start-up frame: the input reads it to the end of the shell.
CharString command_text_storage;

void set_word(const char* name, CharString value) {
    var_store(chars(name), WordVector{std::move(value)}, shell_variables);
}

bool is_directory(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Takes the terminal for job control, or explains why not.
void set_up_job_control() {
    signal(SIGTSTP, SIG_IGN);
    signal(SIGTTIN, SIG_IGN);
    signal(SIGTTOU, SIG_IGN);
    int tty = -1;
    if (isatty(SHELL_DIAG_FD)) {
        tty = SHELL_DIAG_FD;
    } else if (isatty(SHELL_OUT_FD)) {
        tty = SHELL_OUT_FD;
    } else if (isatty(fds.saved_stdin)) {
        tty = fds.saved_stdin;
    }
    pid_t owner = tcgetpgrp(tty);
    while (owner != -1 && owner != shell.shell_pgrp) {
        // Wait until the shell is brought to the foreground.
        struct sigaction dfl {
        }, old{};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGTTIN, &dfl, &old);
        killpg(shell.shell_pgrp, SIGTTIN);
        sigaction(SIGTTIN, &old, nullptr);
        owner = tcgetpgrp(tty);
    }
    bool ok = owner != -1;
    if (ok) {
        shell.startup_pgrp = owner;
        pid_t me = getpid();
        if (owner != me && setpgid(0, 0) != 0) ok = false;
        if (ok && tcsetpgrp(tty, me) != 0) ok = false;
        if (ok) {
            shell.shell_pgrp = shell.terminal_pgrp = me;
            fd_copy(tty, TTY_FD);
            set_cloexec(TTY_FD);
        }
    }
    if (!ok) {
        std::fprintf(diagnostic_stream, "Warning: no access to tty (%s).\n", std::strerror(errno));
        std::fputs("Thus no job control in this shell.\n", diagnostic_stream);
        std::fflush(diagnostic_stream);
        shell.terminal_pgrp = -1;
        shell.startup_pgrp = -1;
        shell.shell_pgrp = getpgrp();
    }
}

// Imports a value of the environment at a recovery point of its own: an error in it (a PATH
// component that matches no file, names an unknown user or is badly formed) is reported and
// start-up goes on. Nothing has been read yet, and the fault is the environment's, not the
// input's: the shell input is set aside meanwhile, so that the error does not throw away the
// script or the -c text as it throws away pending input.
template <class Step>
void import_step(Step&& step) {
    InputState saved = std::move(input);
    const int shell_in = fds.shell_in;
    input = InputState{};
    fds.shell_in = -1;
    run_recovering(step);
    input = std::move(saved);
    fds.shell_in = shell_in;
}

// Reads the start-up files and the saved history, each abandoned by an error in it.
void read_startup_files(const Options& opt) {
    bool read_hash = false;
    {
        // The system files are read with interrupts off. They come back also when an error
        // abandons the files: else the shell would run without interrupts, and its command loop
        // without catching errors.
        struct InterruptsOff {
            bool handle = shell.handle_interrupts;
            struct sigaction sigint = shell.inherited_sigint;
            sigset_t mask;
            InterruptsOff() noexcept {
                mask_change(SIG_BLOCK, nullptr, &mask);
                block_signal(SIGINT);
                shell.handle_interrupts = false;
                shell.inherited_sigint.sa_handler = SIG_IGN;
            }
            ~InterruptsOff() {
                mask_change(SIG_SETMASK, &mask, nullptr);
                shell.handle_interrupts = handle;
                shell.inherited_sigint = sigint;
            }
        } interrupts_off;
        source_system_file("/etc/orv.orvrc");
        if (!opt.command && !opt.one_line) {
            rehash_path();
            read_hash = true;
        }
        if (shell.login_shell) source_system_file("/etc/orv.login");
    }
    if (const WordVector* home = var_lookup("home"); home && !home->empty()) {
        source_home_file((*home)[0], "/.orvrc");
    }
    if (!opt.command && !opt.one_line && !read_hash) rehash_path();
    WordVector load{chars("source"), chars("-h"), chars("~/.history")};
    if (const WordVector* histfile = var_lookup("histfile")) {
        load[2] = histfile->empty() ? CharString() : (*histfile)[0];
    }
    CommandNode node;
    builtin_source(load, node);
    if (shell.login_shell) {
        if (const WordVector* home = var_lookup("home"); home && !home->empty()) {
            source_home_file((*home)[0], "/.login");
        }
    }
}

// The start-up sequence and the command loop; see shell_main.
[[noreturn]] void start_shell(int argc, char** argv) {
    record_start_usage();
    env_init(environ);
    char* program = argc > 0 ? argv[0] : const_cast<char*>("orv");
    if (std::strcmp(program, "a.out") == 0) shell.quit_default = true;
    shell.real_uid = getuid();
    shell.effective_uid = geteuid();
    shell.real_gid = getgid();
    shell.effective_gid = getegid();

    // A login shell: no arguments and a leading -, or the one argument -l.
    int argi = 1;
    if (argc == 1 && program[0] == '-') {
        shell.login_shell = true;
    } else if (argc == 2 && std::strcmp(argv[1], "-l") == 0) {
        shell.login_shell = true;
        argi = 2;
    }
    if (shell.login_shell) mail_check_time = std::time(nullptr);

    std::setlocale(LC_ALL, "");
    locale_changed();
    signals_init();
    // Before anything can fork (a PATH component in backquotes runs a command): a child that
    // ends before the handler is there would leave its wait asleep for good.
    install_child_handler();
    const int copy_error = init_descriptors();
    if (!init_streams()) exit_now(1);
    if (copy_error != 0) {
        // The descriptor that could not be copied is still where it was, so the message
        // reaches the standard error.
        shell.fork_depth = 1;
        fd_copy_failed(copy_error);
    }
    set_word("status", chars("0"));

    const char* home = std::getenv("HOME");
    CharString home_value;
    bool have_home = home && std::strlen(home) <= HOME_MAX;
    if (have_home) {
        home_value = to_char_string(home);
        set_word("home", home_value);
    } else {
        shell.fast_start = true;
    }
    dir_init(have_home ? &home_value : nullptr);
    if (const char* user = std::getenv("LOGNAME")) {
        set_word("user", to_char_string(user));
    } else if (const char* user2 = std::getenv("USER")) {
        set_word("user", to_char_string(user2));
    }
    if (const char* term = std::getenv("TERM")) set_word("term", to_char_string(term));
    set_word("shell", chars(DEFAULT_SHELL));

    char pid_buf[32];
    std::snprintf(pid_buf, sizeof pid_buf, "%d", static_cast<int>(getpid()));
    shell.pid_text = to_char_string(pid_buf);

    sigaction(SIGINT, nullptr, &shell.inherited_sigint);
    sigaction(SIGTERM, nullptr, &shell.inherited_sigterm);
    if (shell.login_shell) install_hangup_handlers();

    Options opt;
    while (argi < argc && argv[argi][0] == '-' && argv[argi][1] != '\0' && !opt.batch) {
        const char* word = argv[argi++];
        // The two long options count only as the first argument.
        if (argi == 2 &&
            (std::strcmp(word, "--version") == 0 || std::strcmp(word, "--help") == 0)) {
            print_long_option(word);
        }
        for (const char* p = word + 1; *p; ++p) {
            switch (*p) {
                case 'b':
                    opt.batch = true;
                    break;
                case 'c':
                    opt.command = true;
                    shell.prompting = false;
                    if (argi >= argc) exit_now(0);
                    command_text_storage = to_char_string(argv[argi++]);
                    input.command_string = &command_text_storage;
                    break;
                case 'e':
                    errors.exit_on_error = true;
                    break;
                case 'f':
                    shell.fast_start = true;
                    break;
                case 'i':
                    shell.forced_interactive = true;
                    break;
                case 'm':
                    shell.home_files_no_stat = true;
                    break;
                case 'n':
                    shell.no_execute = true;
                    break;
                case 'q':
                    shell.quit_default = true;
                    break;
                case 's':
                    opt.from_stdin = true;
                    break;
                case 't':
                    opt.one_line = true;
                    input.one_line_count = 2;
                    shell.prompting = false;
                    break;
                case 'v':
                    opt.verbose_later = true;
                    break;
                case 'x':
                    opt.echo_later = true;
                    break;
                case 'V':
                    set_word("verbose", CharString());
                    break;
                case 'X':
                    set_word("echo", CharString());
                    break;
                default:
                    break;  // other letters are ignored
            }
        }
    }

    if (shell.quit_default) signal(SIGQUIT, SIG_DFL);
    if (argi < argc && !opt.command && !shell.forced_interactive && !opt.from_stdin &&
        !opt.one_line) {
        const char* name = argv[argi];
        int fd = open(name, O_RDONLY);
        if (fd < 0) {
            shell.fork_depth = 1;
            error_raise(ERR_NAME_TEXT, name, std::strerror(errno));
        }
        shell.script_name = to_char_string(name);
        shell.has_script_name = true;
        fds.shell_in = fd_move(fd, SHELL_IN_FD);
        set_cloexec(fds.shell_in);
        shell.prompting = false;
        ++argi;
    }

    shell.interactive = isatty(fds.shell_in) || shell.forced_interactive;
    if (shell.interactive && !opt.batch &&
        (shell.real_uid != shell.effective_uid || shell.real_gid != shell.effective_gid)) {
        shell.fork_depth = 1;
        error_raise(ERR_NAME_TEXT, "orv", std::strerror(EACCES));
    }

    if (std::optional<CharView> path = env_lookup("PATH")) {
        import_step([&] {
            errors.error_name = "PATH";
            var_store(chars("path"), expand_value(path_components(*path)), shell_variables);
        });
    } else {
        WordVector dirs;
        if (is_directory("/bin")) dirs.push_back(chars("/bin"));
        if (is_directory("/usr/bin")) dirs.push_back(chars("/usr/bin"));
        if (shell.real_uid != 0 && shell.effective_uid != 0) dirs.push_back(chars("."));
        var_store(chars("path"), std::move(dirs), shell_variables);
    }

    shell.handle_interrupts = shell.forced_interactive || shell.login_shell ||
                              (shell.interactive && isatty(fds.shell_out));
    input_check_seekable();

    WordVector args;
    for (int i = argi; i < argc; ++i) args.push_back(to_char_string(argv[i]));
    var_store(chars("argv"), std::move(args), shell_variables);

    if (shell.prompting) {
        set_word("prompt", chars(shell.real_uid == 0 ? "# " : "% "));
        CharString prompt2;
        prompt2 += quoted('?');
        prompt2 += ' ';
        set_word("prompt2", std::move(prompt2));
    }

    // At a capable terminal the line editor is on, with a history to walk, unless the start-up
    // files say otherwise.
    if (shell.interactive && isatty(fds.shell_in) && isatty(fds.shell_out)) {
        const char* term = std::getenv("TERM");
        if (term && *term && std::strcmp(term, "dumb") != 0) {
            set_word("edit", CharString());
            var_after_set(chars("edit"));
            if (!var_lookup("history")) set_word("history", chars("1000"));
        }
    }

    shell.shell_pgrp = getpgrp();
    shell.terminal_pgrp = shell.startup_pgrp = -1;

    if (shell.handle_interrupts) {
        if (argc > 0 && argv[0][0] != '\0') argv[0][0] = '-';
        if (!shell.quit_default) signal(SIGQUIT, SIG_IGN);
        install_interrupt_handler();
        block_signal(SIGINT);
        signal(SIGTERM, SIG_IGN);
        if (!shell.quit_default && !opt.command) set_up_job_control();
    }
    if (!shell.handle_interrupts && shell.inherited_sigint.sa_handler == SIG_DFL) {
        shell.handle_interrupts = true;
    }

    // The start-up recovery point: an error in a start-up file abandons the rest of them, and
    // when the command loop does not catch errors, every error comes back here.
    bool first_pass = true;
    for (;;) {
        errors.error_seen = false;
        run_recovering([&] {
            bool read_files = first_pass && !shell.fast_start;
            first_pass = false;
            if (read_files) read_startup_files(opt);
        });
        errors.error_seen = false;
        bool loop_abandoned = run_recovering([&] {
            if (opt.verbose_later) set_word("verbose", CharString());
            if (opt.echo_later) set_word("echo", CharString());
            run_command_loop(shell.handle_interrupts);
        });
        if (!loop_abandoned) break;
    }

    if (shell.interactive) {
        if (shell.login_shell) {
            std::fputs("logout\n", output_stream);
            std::fflush(output_stream);
            close(fds.shell_in);
            shell.fork_depth = 1;
            logout_sequence();
        }
        std::fputs("exit\n", output_stream);
        std::fflush(output_stream);
    }
    save_history();
    exit_with_status();
}

}  // namespace

void wire_shell() {
    signal_actions.interrupt = interrupt_action;
    signal_actions.child = reap_children;
    signal_actions.hangup = hangup_action;
    recovery_hooks.discard_input = input_to_eof;
    recovery_hooks.set_error_status = set_status_after_error;
    reentry.command_substitute = command_substitute;
    reentry.run_brace_command = run_brace_command;
    reentry.find_builtin = find_builtin;
    reentry.run_builtin = run_builtin;
    reentry.run_command_loop = run_command_loop;
    reentry.source_file = source_file;
    reentry.logout_sequence = logout_sequence;
    install_special_variables();
    input_hooks.read_terminal_line = read_terminal_line;
    input_hooks.end_of_input = end_of_input;
    completion_prompt = print_prompt;
    completion_builtin_names = [](WordVector& out) {
        for (int i = 0; i < builtin_count; ++i) out.push_back(chars(builtin_table[i].name));
    };
}

int shell_main(int argc, char** argv) {
    wire_shell();
    // Every error of start-up has its recovery point or ends the shell by itself; this is for
    // what nothing else can catch, so that no exception ends the shell with an abort.
    try {
        start_shell(argc, argv);
    } catch (const std::bad_alloc&) {
        if (diagnostic_stream) {
            shell.fork_depth = 1;
            error_raise(ERR_NO_MEMORY);
        }
        static constexpr char message[] = "Out of memory.\n";
        [[maybe_unused]] ssize_t n = write(2, message, sizeof message - 1);
    } catch (const ShellError&) {
        // Reported already.
    }
    exit_now(1);
}
