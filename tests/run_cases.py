#!/usr/bin/env python3
"""Runs end-to-end case files against the orv binary.

A case file groups the cases of one behaviour. Lines before the first `####` are a comment.

    #### cd without a home directory stops the script
    unset home
    cd
    ## stderr: cd: No home directory.
    ## status: 1

The lines after `#### NAME` up to the first `## ` tag line are the script. Tags:
  expected output   ## stdout: TEXT        ## STDOUT: ... ## END     (same for stderr)
                    ## stdout-json: "..."  (exact bytes)  ## stdout-re: REGEX (re.fullmatch, DOTALL)
                    ## status: N           (a signal death counts as 128+N)
  set-up            ## args: WORDS  (options before the script)   ## argv: WORDS  (after it)
                    ## env: NAME=VALUE  or  ## env: -NAME          ## setup: /bin/sh line
                    ## stdin: TEXT  or  ## STDIN: ... ## END       ## mode: script|c|stdin|args
                    ## modes: MODE...  (the same case run once in each of the modes)
                    ## locale: NAME...  (run only in these of the run's locales)
A stream not given must be empty; a missing status means 0. `{SCRIPT}`, `{WORK}` and `{HOME}`
in args, argv, env values and expected texts stand for the case's paths.

Every case runs once in each locale of the run (`--locale`, by default C and C.UTF-8), with
LANG set to it; a failure names the locale.

A case is stopped when one of its processes has used --cpu-limit seconds of processor time (a
soft limit that each process has for itself), or when a process is still running after
--timeout seconds. Only the first measures work: the second is there for a case that waits
forever, and is ample, since a loaded machine stretches the time on the clock many times over.
"""

import argparse
import dataclasses
import difflib
import json
import locale
import math
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Optional

MODES = ('script', 'c', 'stdin', 'args')
STREAMS = ('stdout', 'stderr')
TAG_LINE = re.compile(r'## ([A-Za-z-]+):(?: (.*))?')
BLOCK_TAGS = {'STDOUT': 'stdout', 'STDERR': 'stderr', 'STDIN': 'stdin'}
ENV_CHANGE = re.compile(r'-([^=]+)|([^=-][^=]*)=(.*)')
# Sanitizer settings of the caller reach the shell so that an instrumented build reports as asked.
PASS_THROUGH_ENV = ('ASAN_OPTIONS', 'UBSAN_OPTIONS', 'LSAN_OPTIONS')
LOCALES = ('C', 'C.UTF-8')
# Case files and scripts may hold any bytes; this keeps them intact through str.
FS_CODEC = dict(encoding='utf-8', errors='surrogateescape')


@dataclass
class Case:
    path: str
    line: int
    name: str
    script: str = ''
    mode: str = 'script'
    modes: list = field(default_factory=list)  # run once in each of these modes
    args: list = field(default_factory=list)
    argv: list = field(default_factory=list)
    env: list = field(default_factory=list)  # (name, value); value None removes the name
    stdin: Optional[str] = None
    setup: list = field(default_factory=list)
    locales: list = field(default_factory=list)  # run only in these; empty: in every one
    expect: dict = field(default_factory=dict)  # stream -> ('bytes', str) or ('re', str)
    status: int = 0


class CaseError(Exception):
    """A malformed case file, reported at its line instead of running anything."""

    def __init__(self, line, message):
        super().__init__(message)
        self.line, self.message, self.name = line, message, ''  # name: set by parse_file


# ---------------------------------------------------------------------------------------------
# Parsing


def parse_file(path):
    """Returns (cases, errors) of one case file; a broken case does not stop the others."""
    try:
        with open(path, newline='', **FS_CODEC) as f:
            text = f.read()
    except OSError as e:
        return [], [CaseError(1, f'cannot read: {e.strerror}')]
    # Split on "\n" only: str.splitlines() would also split at control characters in scripts.
    lines = text.split('\n')
    if lines[-1] == '':
        lines.pop()
    starts = [i for i, line in enumerate(lines) if line.startswith('####')]
    cases, errors = [], []
    for k, start in enumerate(starts):
        end = starts[k + 1] if k + 1 < len(starts) else len(lines)
        name = lines[start][4:].strip()
        try:
            if not name:
                raise CaseError(start + 1, 'a case needs a name after ####')
            case = parse_case(path, start + 1, name, lines[start + 1:end])
            cases.extend(expand_modes(case))
        except CaseError as e:
            e.name = name
            errors.append(e)
    return cases, errors


def expand_modes(case):
    """One case per mode of `## modes:`, named with the mode; the case itself otherwise."""
    if not case.modes:
        return [case]
    out = []
    for mode in case.modes:
        if mode == 'stdin' and case.stdin is not None:
            raise CaseError(case.line, 'stdin mode reads the script on stdin; ## stdin is not allowed')
        copy = dataclasses.replace(case, name=f'{case.name} [{mode}]', mode=mode, modes=[])
        out.append(copy)
    return out


def parse_case(path, line, name, body):
    """Builds a Case from the lines after its `####` line (`line` is that line's number)."""
    case = Case(path, line, name)
    k = 0
    while k < len(body) and not body[k].startswith('## '):
        k += 1
    if k:
        case.script = '\n'.join(body[:k]) + '\n'
    seen = set()

    def once(key, lineno):
        if key in seen:
            raise CaseError(lineno, f'{key} given twice')
        seen.add(key)

    while k < len(body):
        lineno = line + 1 + k
        text = body[k]
        k += 1
        if not text.strip():
            continue  # blank lines may separate cases
        if not text.startswith('## '):
            raise CaseError(lineno, f'text after the tags: {text!r}')
        m = TAG_LINE.fullmatch(text)
        if not m:
            raise CaseError(lineno, f'malformed tag line: {text!r}')
        tag, value = m.group(1), m.group(2) or ''
        if tag in BLOCK_TAGS:
            if value:
                raise CaseError(lineno, f'## {tag}: takes its text on the following lines')
            block = []
            while k < len(body) and body[k] != '## END':
                block.append(body[k] + '\n')
                k += 1
            if k == len(body):
                raise CaseError(lineno, f'## {tag}: without ## END')
            k += 1
            tag, value = BLOCK_TAGS[tag], ''.join(block)
            once(tag, lineno)
            if tag == 'stdin':
                case.stdin = value
            else:
                case.expect[tag] = ('bytes', value)
            continue
        parse_tag(case, tag, value, lineno, once)

    if case.mode == 'stdin' and case.stdin is not None:
        raise CaseError(line, 'stdin mode reads the script on stdin; ## stdin is not allowed')
    if case.mode == 'args' and case.script.strip():
        raise CaseError(line, 'args mode takes no script text')
    return case


def parse_tag(case, tag, value, lineno, once):
    """Applies one one-line tag to `case`; `once` rejects a repeated single-valued tag."""
    stream, _, kind = tag.partition('-')
    if stream in STREAMS and kind in ('', 'json', 're'):
        once(stream, lineno)
        if kind == '':
            case.expect[stream] = ('bytes', value + '\n')
        elif kind == 'json':
            case.expect[stream] = ('bytes', parse_json(value, lineno))
        else:
            try:
                re.compile(value)
            except re.error as e:
                raise CaseError(lineno, f'bad regular expression: {e}') from None
            case.expect[stream] = ('re', value)
    elif tag == 'status':
        once(tag, lineno)
        if not re.fullmatch(r'\d+', value):
            raise CaseError(lineno, f'status must be a number: {value!r}')
        case.status = int(value)
    elif tag in ('args', 'argv'):
        once(tag, lineno)
        try:
            setattr(case, tag, shlex.split(value))
        except ValueError as e:
            raise CaseError(lineno, f'## {tag}: {e}') from None
    elif tag == 'env':
        m = ENV_CHANGE.fullmatch(value)
        if not m:
            raise CaseError(lineno, f'## env: wants NAME=VALUE or -NAME, got {value!r}')
        case.env.append((m.group(1), None) if m.group(1) else (m.group(2), m.group(3)))
    elif tag == 'stdin':
        once(tag, lineno)
        case.stdin = value + '\n'
    elif tag == 'setup':
        case.setup.append(value)
    elif tag == 'modes':
        once('mode', lineno)
        modes = value.split()
        bad = [m for m in modes if m not in MODES or m == 'args']
        if not modes or bad:
            raise CaseError(lineno, f'## modes: wants some of script, c, stdin, got {value!r}')
        case.modes = modes
    elif tag == 'locale':
        once(tag, lineno)
        case.locales = value.split()
        if not case.locales:
            raise CaseError(lineno, '## locale: wants one or more locale names')
    elif tag == 'mode':
        once(tag, lineno)
        if value not in MODES:
            raise CaseError(lineno, f'unknown mode {value!r} (one of {", ".join(MODES)})')
        case.mode = value
    else:
        raise CaseError(lineno, f'unknown tag ## {tag}:')


def parse_json(value, lineno):
    """Decodes a `-json` expectation: a JSON string whose code points are the bytes (latin-1)."""
    try:
        text = json.loads(value)
        if not isinstance(text, str):
            raise ValueError('not a JSON string')
        # Stored as the str of the same bytes under FS_CODEC, like every other expectation.
        return text.encode('latin-1').decode(**FS_CODEC)
    except (ValueError, UnicodeEncodeError) as e:
        raise CaseError(lineno, f'bad JSON string: {e}') from None


# ---------------------------------------------------------------------------------------------
# Running


@dataclass
class Limits:
    cpu: float  # seconds of processor time for each process
    wall: float  # seconds on the clock for the case's process


@dataclass
class Outcome:
    status: int
    stdout: bytes
    stderr: bytes
    timed_out: bool


def kill_group(pgid):
    try:
        os.killpg(pgid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def run_process(argv, cwd, env, stdin, limits):
    """Runs argv in its own session under the limits; stdin None means /dev/null."""
    # Only the soft limit, which the shell's limit builtin may still raise for its own tests.
    argv = ['/bin/sh', '-c', 'ulimit -S -t "$0" && exec "$@"', str(math.ceil(limits.cpu)), *argv]
    with subprocess.Popen(argv, cwd=cwd, env=env, start_new_session=True,
                          stdin=subprocess.DEVNULL if stdin is None else subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE) as proc:
        timed_out = False
        try:
            out, err = proc.communicate(None if stdin is None else stdin.encode(**FS_CODEC),
                                        timeout=limits.wall)
        except subprocess.TimeoutExpired:
            timed_out = True
            kill_group(proc.pid)
            try:
                out, err = proc.communicate(timeout=5)
            except subprocess.TimeoutExpired:  # something left the group and holds the pipes
                out, err = b'', b''
        # A background child left behind must not outlive its case.
        kill_group(proc.pid)
    status = proc.returncode
    if status < 0:  # killed by a signal, reported as a shell would
        status = 128 - status
    return Outcome(status, out, err, timed_out)


def substitute(text, places, escape=False):
    for key, path in places.items():
        text = text.replace(key, re.escape(path) if escape else path)
    return text


def visible(data):
    """Renders bytes as printable lines for a diff: control and non-ASCII bytes escaped."""
    names = {9: '\\t', 13: '\\r', 27: '\\e'}
    lines = data.split(b'\n')
    tail = lines.pop()
    out = [''.join(chr(c) if 32 <= c < 127 else names.get(c, f'\\x{c:02x}') for c in line) + '\n'
           for line in lines + ([tail] if tail else [])]
    if tail:
        out.append('\\ (no newline at end)\n')
    return out


def check_stream(stream, spec, actual, places):
    """Returns the report lines for one stream, empty when it matches."""
    kind, value = spec or ('bytes', '')
    if kind == 're':
        pattern = substitute(value, places, escape=True)
        if re.fullmatch(pattern, actual.decode('latin-1'), re.DOTALL):
            return []
        return [f'{stream} does not match the regular expression {pattern!r}; actual {stream}:\n',
                *['    ' + line for line in visible(actual)]]
    expected = substitute(value, places).encode(**FS_CODEC)
    if expected == actual:
        return []
    return list(difflib.unified_diff(visible(expected), visible(actual),
                                     f'expected {stream}', f'actual {stream}'))


def base_env(lang):
    env = {'PATH': '/usr/bin:/bin', 'LANG': lang}
    env.update({k: os.environ[k] for k in PASS_THROUGH_ENV if k in os.environ})
    return env


def set_env(env, name, value):
    """Applies one `## env:` change. Sanitizer options add to those of the caller (the later
    setting of an option wins), so that a case cannot drop the run's own, such as log_path."""
    if value is None:
        env.pop(name, None)
    elif name in PASS_THROUGH_ENV and env.get(name):
        env[name] = env[name] + ':' + value
    else:
        env[name] = value


def run_case(case, orv, limits, lang):
    """Runs one case with LANG=lang; returns None when it passes, else the lines of its
    report."""
    casedir = os.path.realpath(tempfile.mkdtemp(prefix='orv-case-'))
    work, home = os.path.join(casedir, 'work'), os.path.join(casedir, 'home')
    script = os.path.join(casedir, 'script.orv')
    os.mkdir(work)
    os.mkdir(home)
    places = {'{SCRIPT}': script, '{WORK}': work, '{HOME}': home,
              '{ORV}': os.path.realpath(orv)}
    env = base_env(lang)
    env['HOME'] = home
    for name, value in case.env:
        set_env(env, name, None if value is None else substitute(value, places))

    report = []
    for line in case.setup:
        setup = run_process(['/bin/sh', '-c', line], work, dict(env, ORV=orv), None, limits)
        if setup.status or setup.timed_out:
            report.append(f'setup failed with status {setup.status}: {line}\n')
            report += ['    ' + text for text in visible(setup.stdout + setup.stderr)]
            break
    if not report:
        args = [substitute(word, places) for word in case.args]
        argv = [substitute(word, places) for word in case.argv]
        stdin = case.stdin
        text = substitute(case.script, places)
        if case.mode == 'script':
            with open(script, 'w', newline='', **FS_CODEC) as f:
                f.write(text)
            command = [orv, *args, script, *argv]
        elif case.mode == 'c':
            command = [orv, *args, '-c', text.removesuffix('\n'), *argv]
        else:
            command = [orv, *args, *argv]
            if case.mode == 'stdin':
                stdin = text
        result = run_process(command, work, env, stdin, limits)
        if result.timed_out:
            report.append(f'timed out after {limits.wall:g} s\n')
        elif result.status == 128 + signal.SIGXCPU and case.status != result.status:
            report.append(f'used up its {math.ceil(limits.cpu)} s of processor time\n')
        if result.status != case.status:
            report.append(f'status: expected {case.status}, got {result.status}\n')
        for stream in STREAMS:
            report += check_stream(stream, case.expect.get(stream), getattr(result, stream), places)

    if not report:
        shutil.rmtree(casedir, ignore_errors=True)
        return None
    report.append(f'kept: {casedir}\n')
    return report


def run_file(path, orv, limits, keyword, lang, first):
    """Runs the cases of one file in order with LANG=lang; returns (passed, failed, report
    text). Malformed cases are reported by the first locale's run only."""
    cases, errors = parse_file(path)
    passed, reports = 0, []  # reports: (line, text), sorted by line at the end
    for error in errors if first else []:
        if not keyword or keyword in error.name:
            reports.append((error.line, f'FAIL {path}:{error.line}: {error.name}: '
                                        f'malformed case file: {error.message}\n'))
    for case in cases:
        if keyword and keyword not in case.name:
            continue
        if case.locales and lang not in case.locales:
            continue
        report = run_case(case, orv, limits, lang)
        if report is None:
            passed += 1
        else:
            lines = [f'FAIL {path}:{case.line}: {case.name} [LANG={lang}]\n']
            lines += ['    ' + t for t in report]
            reports.append((case.line, ''.join(lines)))
    reports.sort(key=lambda item: item[0])
    return passed, len(reports), ''.join(text for _, text in reports)


def find_files(paths):
    files = set()
    for path in paths:
        if os.path.isdir(path):
            for root, _, names in os.walk(path):
                files.update(os.path.join(root, n) for n in names if n.endswith('.case'))
        elif os.path.isfile(path):
            files.add(path)
        else:
            sys.exit(f'run_cases.py: no such file or directory: {path}')
    return sorted(files)


def locale_exists(name):
    """True when the system has the locale (asked before any thread starts)."""
    old = locale.setlocale(locale.LC_ALL)
    try:
        locale.setlocale(locale.LC_ALL, name)
        return True
    except locale.Error:
        return False
    finally:
        locale.setlocale(locale.LC_ALL, old)


def list_cases(files, keyword):
    bad = False
    for path in files:
        cases, errors = parse_file(path)
        for error in errors:
            if keyword and keyword not in error.name:
                continue
            bad = True
            print(f'{path}:{error.line}: {error.name}: malformed case file: {error.message}')
        for case in cases:
            if not keyword or keyword in case.name:
                print(f'{path}:{case.line}: {case.name}')
    return 1 if bad else 0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description='Run orv case files.')
    parser.add_argument('--orv', help='the shell binary to test')
    parser.add_argument('--jobs', '-j', type=int, default=2 * (os.cpu_count() or 1))
    parser.add_argument('--cpu-limit', type=float, default=10.0,
                        help='seconds of processor time per process')
    parser.add_argument('--timeout', type=float, default=120.0,
                        help='seconds on the clock per case process, for one that waits forever')
    parser.add_argument('--locale', action='append', dest='locales', metavar='NAME',
                        help=f'run every case with LANG=NAME (repeatable; default: '
                             f'{" and ".join(LOCALES)})')
    parser.add_argument('--list', action='store_true', help='list the cases, run nothing')
    parser.add_argument('-k', dest='keyword', help='run only cases whose name contains this')
    parser.add_argument('paths', nargs='*', default=[os.path.join(here, 'cases')])
    opts = parser.parse_args()
    files = find_files(opts.paths)
    if opts.list:
        return list_cases(files, opts.keyword)
    if not opts.orv:
        parser.error('--orv is required')
    # Cases run in their own directories, so the binary's path must not be relative.
    orv = os.path.abspath(opts.orv) if os.sep in opts.orv else shutil.which(opts.orv)
    if not orv or not os.access(orv, os.X_OK):
        sys.exit(f'run_cases.py: not an executable: {opts.orv}')

    locales = opts.locales or LOCALES
    limits = Limits(opts.cpu_limit, opts.timeout)
    missing = [name for name in locales if not locale_exists(name)]
    if missing:
        sys.exit(f'run_cases.py: no such locale on this system: {", ".join(missing)}')
    runs = [(path, lang) for path in files for lang in locales]
    passed = failed = 0
    with ThreadPoolExecutor(max_workers=max(1, opts.jobs)) as pool:
        # map() yields in the order of `runs`, so the report does not depend on timing.
        for p, f, text in pool.map(
                lambda run: run_file(run[0], orv, limits, opts.keyword, run[1],
                                     run[1] == locales[0]),
                runs):
            passed, failed = passed + p, failed + f
            sys.stdout.write(text)
            sys.stdout.flush()
    if passed + failed == 0:
        print('no cases ran')
    print(f'{passed} passed, {failed} failed')
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == '__main__':
    sys.exit(main())
