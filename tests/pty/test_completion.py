"""File-name completion at a real terminal: escape completes, end of file lists, the line comes back.

The shell pushes an edited line back into the terminal's input queue after it has answered a
request; keys the test sends before that would land in front of the line. So before each key
that follows a request (and before the first key of a line), the test waits until the shell is
asleep waiting for input again: by then its terminal is set up and the line is back in the queue.

Tests that loop over PUSH_REFUSED run once with the line pushed back and once with the push
refused, as a kernel without legacy TIOCSTI refuses it to a user without CAP_SYS_ADMIN (the tests
run as root, which it lets through, so a preloaded library makes the refusal).
"""

import os
import platform
import pwd
import time

from ptyshell import Shell, config

# The system call the shell sleeps in while it waits for terminal input (ppoll).
_INPUT_WAIT_CALL = {'x86_64': '271', 'aarch64': '73'}.get(platform.machine())


def wait_for_input(sh):
    """Waits until the shell sleeps waiting for terminal input."""
    deadline = time.monotonic() + sh.timeout
    while time.monotonic() < deadline:
        with open(f'/proc/{sh.child.pid}/syscall') as f:
            if f.read().split()[0] == _INPUT_WAIT_CALL:
                return
        time.sleep(0.005)
    sh.fail('the shell did not go back to waiting for input')


def received(sh):
    """Everything the terminal has shown so far."""
    return ''.join(text for direction, text in sh.transcript.chunks if direction == '<')


def make_files(*names):
    """Creates empty files (and directories for names ending in "/") in the working directory."""
    for name in names:
        path = os.path.join(config.work, name)
        if name.endswith('/'):
            os.makedirs(path)
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, 'w').close()


# Both ways of giving the line back.
PUSH_REFUSED = (False, True)


def push_refused_env():
    """The environment that makes the terminal refuse to take characters back."""
    shim = os.path.join(os.path.dirname(config.helper or ''), 'tiocsti_refused.so')
    if not os.path.exists(shim):
        raise RuntimeError(f'no {shim}: build the tests (run_pty.py --helper in the build tree)')
    # The sanitizer runtime wants to be loaded first; the shim forwards all else to it.
    asan = os.environ.get('ASAN_OPTIONS', '')
    return {'LD_PRELOAD': shim,
            'ASAN_OPTIONS': (asan + ':' if asan else '') + 'verify_asan_link_order=0'}


def filec_shell(*setup, push_refused=False):
    """A shell with completion on, after the given command lines, waiting for the next line."""
    sh = Shell(env=push_refused_env() if push_refused else None)
    if push_refused:
        with open(f'/proc/{sh.child.pid}/maps') as f:
            if 'tiocsti_refused.so' not in f.read():
                sh.fail('the library that refuses the push is not loaded')
    for line in ('set filec', *setup):
        sh.sendline(line)
        sh.expect_prompt()
    wait_for_input(sh)
    return sh


def run_pushed_line(sh, output):
    """Ends the line waiting in the terminal and waits for its output and the next prompt."""
    wait_for_input(sh)
    sh.sendline()
    sh.expect_exact(output + '\r\n')
    sh.expect_prompt()


def test_escape_completes_a_unique_name_without_the_bell():
    make_files('d/unique.txt', 'd/other')
    for push_refused in PUSH_REFUSED:
        sh = filec_shell(push_refused=push_refused)
        start = len(received(sh))
        sh.send('echo d/uni\x1b')
        sh.expect_exact('\b\bque.txt')  # written over the "^[" the terminal showed for escape
        run_pushed_line(sh, 'd/unique.txt')
        assert '\a' not in received(sh)[start:]


def test_escape_completes_user_names_and_rings_for_an_unknown_user():
    sh = filec_shell()
    start = len(received(sh))
    sh.send('echo ~roo\x1b')
    sh.expect_exact('\b\bt \b')  # one character added: it, a blank, a backspace
    run_pushed_line(sh, pwd.getpwnam('root').pw_dir)
    assert '\a' not in received(sh)[start:]
    wait_for_input(sh)
    sh.send('echo ~nosuchuser/x\x1b')
    sh.expect_exact('\b\b  \b\b\a')  # nothing added, and the bell
    wait_for_input(sh)
    sh.sendcontrol('u')
    sh.sendline('echo next')
    sh.expect_exact('next\r\n')
    sh.expect_prompt()


def test_ambiguous_prefix_rings_then_end_of_file_lists_and_gives_the_line_back():
    make_files('abc', 'abd/')
    for push_refused in PUSH_REFUSED:
        sh = filec_shell(push_refused=push_refused)
        sh.send('echo ab\x1b')
        sh.expect_exact('\b\b  \b\b\a')
        wait_for_input(sh)
        # Refused, the line is the shell's and the terminal's own line is empty: end of file
        # there still asks for the listing and does not end the shell.
        sh.sendcontrol('d')
        # Names run down columns two wider than the longest, each with its type character.
        sh.expect(r'\r\nabc  abd/ *\r+\n')
        sh.expect_prompt(same=True)
        sh.expect_exact('echo ab')  # the line, back for editing
        wait_for_input(sh)
        sh.sendline('d')
        sh.expect_exact('abd\r\n')
    sh.expect_prompt()


def test_fignore_passes_over_suffixes_unless_nothing_else_matches():
    make_files('x.txt', 'x.bak')
    sh = filec_shell('set fignore = ( .bak )')
    start = len(received(sh))
    sh.send('echo x\x1b')
    sh.expect_exact('\b\b.txt')
    run_pushed_line(sh, 'x.txt')
    sh.sendline('rm x.txt')
    sh.expect_prompt()
    wait_for_input(sh)
    sh.send('echo x\x1b')
    sh.expect_exact('\b\b.bak')
    run_pushed_line(sh, 'x.bak')
    assert '\a' not in received(sh)[start:]


def test_listing_hides_dot_names_only_for_an_empty_name_part():
    make_files('sub/.hidden', 'sub/shown')
    sh = filec_shell()
    start = len(received(sh))
    sh.send('echo sub/')
    sh.sendcontrol('d')
    sh.expect(r'\r\nshown  \r+\n')
    sh.expect_prompt(same=True)
    sh.expect_exact('echo sub/')
    assert '.hidden' not in received(sh)[start:]
    wait_for_input(sh)
    sh.send('.')
    sh.sendcontrol('d')
    sh.expect(r'\r\n\./       \.\./      \.hidden  \r+\n')
    sh.expect_prompt(same=True)
    sh.expect_exact('echo sub/.')
    wait_for_input(sh)
    sh.sendcontrol('u')
    sh.sendline('echo next')
    sh.expect_exact('next\r\n')
    sh.expect_prompt()


def test_nobeep_silences_ambiguous_and_failed_completions():
    make_files('abc', 'abd')
    sh = filec_shell('set nobeep')
    start = len(received(sh))
    sh.send('echo ab\x1b')
    sh.expect_exact('\b\b  \b\b')
    wait_for_input(sh)
    sh.send('q\x1b')
    sh.expect_exact('\b\b  \b\b')
    run_pushed_line(sh, 'abq')
    assert '\a' not in received(sh)[start:]


def test_a_tab_in_the_line_reprints_the_prompt_and_the_line():
    make_files('unique.txt')
    for push_refused in PUSH_REFUSED:
        sh = filec_shell(push_refused=push_refused)
        sh.send('echo\tuni\x1b')
        sh.expect_exact('\b\bque.txt')
        sh.expect_exact('\r')
        sh.expect_prompt(same=True)
        sh.expect_exact('echo\tunique.txt')
        wait_for_input(sh)
        sh.sendline()
        sh.expect_exact('\r\nunique.txt\r\n')
        sh.expect_prompt()


def test_long_lines_are_read_whole():
    sh = filec_shell()
    # More than is left of the input block: the line moves whole into a fresh block.
    line = 'echo ' + 'b' * 1000 + ' end'
    sh.sendline(line)
    sh.expect_exact(line[5:] + '\r\n')  # the terminal's echo of what was typed
    sh.expect_exact(line[5:] + '\r\n')  # the output
    sh.expect_prompt()
    wait_for_input(sh)
    # A line that fills the line buffer is taken as it is, even when it ends with escape.
    sh.send('echo ' + 'a' * 1018 + '\x1b')
    sh.sendline()
    sh.expect_exact('a' * 1018 + '\x1b\r\n')  # the escape came through (the echo shows ^[)
    sh.expect_prompt()


def test_interrupt_and_unset_leave_the_terminal_as_it_was():
    make_files('unique.txt')
    sh = filec_shell()
    sh.send('echo half')
    sh.sendcontrol('c')
    sh.expect_prompt(same=True)
    wait_for_input(sh)
    sh.send('echo uni\x1b')
    sh.expect_exact('\b\bque.txt')
    run_pushed_line(sh, 'unique.txt')
    sh.sendline('unset filec')
    sh.expect_prompt()
    sh.send('echo uni\x1b')  # escape ends no line any more
    sh.sendline()
    sh.expect_exact('uni\x1b\r\n')
    sh.expect_prompt()
    sh.sendline('set filec')
    sh.expect_prompt()
    wait_for_input(sh)
    sh.sendcontrol('d')  # end of file on an empty line still ends the shell
    sh.expect_exact('exit')
    sh.expect_eof()


def test_a_refused_push_keeps_the_line_for_more_typing_and_an_interrupt_drops_it():
    make_files('d/unique.txt', 'd/other')
    sh = filec_shell(push_refused=True)
    sh.send('echo d/\x1b')
    sh.expect_exact('\b\b  \b\b\a')
    wait_for_input(sh)
    sh.send('uni\x1b')  # completes the word begun before the first escape
    sh.expect_exact('\b\bque.txt')
    wait_for_input(sh)
    sh.sendline(' more')
    sh.expect_exact('d/unique.txt more\r\n')
    sh.expect_prompt()
    wait_for_input(sh)
    sh.send('echo d/uni\x1b')
    sh.expect_exact('\b\bque.txt')
    wait_for_input(sh)
    sh.sendcontrol('c')
    sh.expect_prompt(same=True)
    sh.sendline('echo next')
    sh.expect_exact('\r\nnext\r\n')
    sh.expect_prompt()


def test_key_sequences_after_a_word_are_dropped_whole():
    # Were an escape of a key taken for a completion request, "ab" would become "abc".
    make_files('abc')
    for push_refused in PUSH_REFUSED:
        sh = filec_shell(push_refused=push_refused)
        start = len(received(sh))
        # Up, Control-Right (a sequence with parameters), Up in application mode; the echo of
        # each ("^[" and the rest) is blanked out.
        sh.send('echo ab')
        for key in ('\x1b[A', '\x1b[1;5C', '\x1bOA'):
            sh.send(key)
            width = len(key) + 1
            sh.expect_exact('^[' + key[1:] + '\b' * width + ' ' * width + '\b' * width)
            wait_for_input(sh)
        sh.sendline('d')
        sh.expect_exact('abd\r\n')
        sh.expect_prompt()
        assert '\a' not in received(sh)[start:], push_refused
        # Keys typed at once after the sequence follow the line, not precede it.
        wait_for_input(sh)
        sh.send('echo ab\x1b[Ad\n')
        sh.expect_exact('abd\r\n')
        sh.expect_prompt()


def test_keys_typed_at_once_after_a_completion_follow_the_completed_line():
    make_files('d/unique.txt')
    for push_refused in PUSH_REFUSED:
        sh = filec_shell(push_refused=push_refused)
        sh.send('echo d/uni\x1b; echo done\n')
        sh.expect_exact('d/unique.txt\r\ndone\r\n')
        sh.expect_prompt()
