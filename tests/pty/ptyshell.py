"""Drives orv, or any program, in a real pseudo-terminal for the terminal tests.

    sh = Shell()                  # orv with a counting prompt, in the test's fresh HOME
    sh.sendline('echo hi')
    sh.expect_exact('hi')
    sh.expect_prompt()            # the next prompt: its event number must have grown

Every wait is bounded (5 s by default). A failed wait raises ShellFailure, an AssertionError that
names the test's own file and line and carries the transcript of what was sent and received.
run_pty.py fills in `config` and gives each test fresh directories.
"""

import os
import re
import shutil
import signal
import tempfile
import time
import traceback

import pexpect

DEFAULT_TIMEOUT = 5.0
# The prompt the tests make the shell print: the next event number between angle brackets.
PROMPT_RE = r'<(\d+)> '
# How they make it print that: `!` in the prompt is replaced by the next event number; the
# backslash keeps history substitution from taking the `!` while the line is read.
PROMPT_COMMAND = r"set prompt = '<\!> '"
PASS_THROUGH_ENV = ('ASAN_OPTIONS', 'UBSAN_OPTIONS', 'LSAN_OPTIONS')
_THIS_FILE = os.path.abspath(__file__)


class Config:
    orv = None     # the shell under test (--orv)
    helper = None  # orv_test_helper (--helper)
    home = None    # the running test's fresh HOME
    work = None    # the running test's working directory


config = Config()
_live = []      # shells started by the running test; end_test() closes them
_test_dir = None


def begin_test():
    """Gives the next test a fresh, empty HOME and working directory."""
    global _test_dir
    _test_dir = os.path.realpath(tempfile.mkdtemp(prefix='orv-pty-'))
    config.home, config.work = os.path.join(_test_dir, 'home'), os.path.join(_test_dir, 'work')
    os.mkdir(config.home)
    os.mkdir(config.work)


def live_transcripts():
    return [shell.transcript.render() for shell in _live]


def end_test():
    """Closes every shell of the test (and whatever they left running), removes its directories."""
    while _live:
        _live.pop().close()
    shutil.rmtree(_test_dir, ignore_errors=True)


class ShellFailure(AssertionError):
    pass


class Transcript:
    """Everything sent to and received from the terminal, in order."""

    def __init__(self):
        self.chunks = []  # [direction, text]; direction '>' sent, '<' received

    def add(self, direction, text):
        if self.chunks and self.chunks[-1][0] == direction:
            self.chunks[-1][1] += text
        else:
            self.chunks.append([direction, text])

    def render(self):
        lines = ['--- transcript (> sent, < received) ---']
        for direction, text in self.chunks:
            # Line ends of the terminal are "\r\n"; other control characters are shown escaped.
            text = text.replace('\r\n', '\n')
            text = re.sub(r'[\x00-\x09\x0b-\x1f\x7f]', lambda m: repr(m.group())[1:-1], text)
            lines += [f'{direction} {line}' for line in text.split('\n')]
        return '\n'.join(lines) + '\n--- end of transcript ---'


class _LogTo:
    """A write-only file for pexpect's logfile_read/logfile_send."""

    def __init__(self, transcript, direction):
        self.transcript, self.direction = transcript, direction

    def write(self, text):
        self.transcript.add(self.direction, text)

    def flush(self):
        pass


def _default_signals():
    # Python ignores SIGPIPE and SIGXFSZ; the program under test must not inherit that.
    for sig in (signal.SIGPIPE, signal.SIGXFSZ):
        signal.signal(sig, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_SETMASK, [])


def _kill_session(sid):
    """Kills what is left of a session: jobs the program under test left running."""
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open(f'/proc/{entry}/stat') as f:
                fields = f.read().rpartition(')')[2].split()
            if int(fields[3]) == sid:
                os.kill(int(entry), signal.SIGKILL)
        except (OSError, IndexError, ValueError):
            pass  # gone meanwhile


def _caller():
    """The innermost frame outside this file: the test's own line."""
    for frame in reversed(traceback.extract_stack()):
        if os.path.abspath(frame.filename) != _THIS_FILE:
            return f'{frame.filename}:{frame.lineno}: {(frame.line or "").strip()}'
    return '?'


class Shell:
    def __init__(self, argv=None, *, term='dumb', env=None, timeout=DEFAULT_TIMEOUT,
                 prompt_re=PROMPT_RE, prompt_command=None):
        """Starts config.orv and sets the counting prompt, or with `argv`, runs that as it is.

        `prompt_command` sets the counting prompt (default for orv: PROMPT_COMMAND, for another
        argv: none), and the first prompt is awaited. `env` adds to (value None: removes from)
        HOME, PATH=/usr/bin:/bin, LANG=C and TERM."""
        if config.home is None:
            raise RuntimeError('ptyshell: run the tests through run_pty.py')
        if argv is None and not config.orv:
            raise RuntimeError('ptyshell: no shell to test (run_pty.py --orv PATH)')
        full_env = {'HOME': config.home, 'PATH': '/usr/bin:/bin', 'LANG': 'C', 'TERM': term}
        full_env.update({k: os.environ[k] for k in PASS_THROUGH_ENV if k in os.environ})
        for name, value in (env or {}).items():
            if value is None:
                full_env.pop(name, None)
            else:
                full_env[name] = value
        command = list(argv) if argv is not None else [config.orv]
        self.timeout = timeout
        self.prompt_re = re.compile(prompt_re)
        self.last_event = None  # number in the last prompt seen
        self.transcript = Transcript()
        self.child = pexpect.spawn(command[0], command[1:], env=full_env, cwd=config.work,
                                   dimensions=(24, 80), encoding='utf-8', codec_errors='replace',
                                   timeout=timeout, preexec_fn=_default_signals)
        self.child.logfile_read = _LogTo(self.transcript, '<')
        self.child.logfile_send = _LogTo(self.transcript, '>')
        _live.append(self)
        if argv is None:
            prompt_command = prompt_command or PROMPT_COMMAND
        if prompt_command:
            self.sendline(prompt_command)
            self.expect_prompt()

    # --- sending

    def sendline(self, text=''):
        self.child.sendline(text)

    def send(self, text):
        self.child.send(text)

    def sendcontrol(self, char):
        """Sends control-`char`, e.g. sendcontrol('c') for an interrupt."""
        self.child.sendcontrol(char)

    # --- waiting

    def fail(self, message):
        """Raises a ShellFailure at the test's line, with the transcript."""
        raise ShellFailure(f'{_caller()}\n{message}\n{self.transcript.render()}')

    def _wait(self, what, timeout, wait):
        timeout = self.timeout if timeout is None else timeout
        try:
            return wait(timeout)
        except pexpect.TIMEOUT:
            self.fail(f'timed out after {timeout:g} s waiting for {what}; '
                      f'unmatched output: {self.child.before!r}')
        except pexpect.EOF:
            self.fail(f'end of output while waiting for {what}; '
                      f'unmatched output: {self.child.before!r}')

    def expect(self, pattern, timeout=None):
        """Waits for a regular expression; returns its match."""
        self._wait(f'/{pattern}/', timeout, lambda t: self.child.expect(pattern, timeout=t))
        return self.child.match

    def expect_exact(self, text, timeout=None):
        """Waits for a literal text; returns what came before it."""
        self._wait(repr(text), timeout, lambda t: self.child.expect_exact(text, timeout=t))
        return self.child.before

    def expect_prompt(self, same=False, timeout=None):
        """Waits for the next prompt and returns its event number.

        The number must exceed the last prompt's, or with same=True equal it (after a line that
        records no event, such as an empty one), so a stale prompt never satisfies a wait."""
        self._wait('a prompt', timeout, lambda t: self.child.expect(self.prompt_re, timeout=t))
        if not self.child.match.groups():
            return None
        number = int(self.child.match.group(1))
        last, self.last_event = self.last_event, number
        if last is not None and (number != last if same else number <= last):
            self.fail(f'prompt <{number}> after <{last}>: expected '
                      f'{"the same" if same else "a greater"} number')
        return number

    def expect_eof(self, timeout=None):
        """Waits for the end of output: the program closed the terminal or exited."""
        self._wait('the end of output', timeout,
                   lambda t: self.child.expect(pexpect.EOF, timeout=t))
        return self.child.before

    def exit_status(self, timeout=None):
        """Waits for the program to exit; a death by signal N reads 128+N."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        while self.child.isalive():
            if time.monotonic() > deadline:
                self.fail('the program did not exit')
            time.sleep(0.02)
        if self.child.signalstatus is not None:
            return 128 + self.child.signalstatus
        return self.child.exitstatus

    def close(self):
        sid = self.child.pid
        try:
            self.child.close(force=True)
        except pexpect.ExceptionPexpect:
            pass  # it would not die of SIGKILL: nothing more to try here
        _kill_session(sid)
