#!/usr/bin/env python3
"""Checks run_cases.py against the case files beside this script, with fake_orv.py as the shell.

Case names say what must happen: "must fail: ..." must fail, "broken: ..." must be reported as a
malformed case file at the line a `# error at LINE: TEXT` comment of its file gives, and every
other case must pass.
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER = os.path.join(HERE, '..', 'run_cases.py')
FAKE = os.path.join(HERE, 'fake_orv.py')
CASE_FILES = sorted(glob.glob(os.path.join(HERE, '*.case')))
LOCALES_FILE = os.path.join(HERE, 'locales.case')
sys.path.insert(0, os.path.dirname(RUNNER))
import run_cases  # noqa: E402  (for set_env)

# What the report of each expected failure must show.
FAILURE_REPORTS = {
    'a stdout difference shows a diff': '@@ -1 +1 @@\n    -expected line\n    +actual line\n',
    'a missing final newline is shown': '+\\ (no newline at end)',
    'an unexpected stderr fails by default': '+surprise',
    'a wrong status': 'status: expected 0, got 2',
    'a regular expression must match the whole stream': "regular expression 'ab'",
    'a failing setup line': 'setup failed with status 1: false',
    'a case that waits too long is killed': 'timed out after 10 s',
}
FAILURES_FILE = os.path.join(HERE, 'failures.case')


def case_names(path, locale=None):
    """The names of the cases of a file; with a locale, only of those that run in it."""
    with open(path) as f:
        blocks = re.split(r'^####', f.read(), flags=re.M)[1:]
    names = []
    for block in blocks:
        pinned = re.search(r'^## locale: (.*)$', block, re.M)
        if locale is None or not pinned or locale in pinned.group(1).split():
            names.append(block.split('\n', 1)[0].strip())
    return names


def expected_errors():
    """Yields (file name, line, text) from the `# error at LINE: TEXT` comments."""
    for path in CASE_FILES:
        with open(path) as f:
            for m in re.finditer(r'^# error at (\d+): (.*)$', f.read(), re.M):
                yield os.path.basename(path), int(m.group(1)), m.group(2)


def run(*args, tmpdir=None, locales=('C',)):
    env = dict(os.environ, TMPDIR=tmpdir) if tmpdir else None
    options = [word for name in locales for word in ('--locale', name)]
    # Ten seconds on the clock: ample for any case here but one that sleeps on purpose.
    proc = subprocess.run([sys.executable, RUNNER, '--orv', FAKE, '--timeout', '10',
                           '--cpu-limit', '1', *options, *args],
                          capture_output=True, text=True, env=env)
    return proc.returncode, proc.stdout + proc.stderr


def failure_blocks(output):
    """Maps each failed case name to its report (the FAIL line and the indented lines after it)."""
    blocks = {}
    for block in re.findall(r'^FAIL .*\n(?:    .*\n)*', output, re.M):
        name = re.match(r'FAIL [^:]+:\d+: (.*?)(?:: malformed case file:.*| \[LANG=.*\])?\n',
                        block).group(1)
        blocks[name] = block
    return blocks


def main():
    results = []

    def check(what, ok, detail=''):
        results.append(ok)
        print(('ok   ' if ok else 'FAIL ') + what)
        if not ok and detail:
            print('    ' + detail.replace('\n', '\n    '))

    names = [name for path in CASE_FILES for name in case_names(path, 'C')]
    must_fail = [n for n in names if n.startswith(('must fail: ', 'broken: '))]
    tmpdir = tempfile.mkdtemp(prefix='orv-selftest-')
    try:
        status, out = run(HERE, tmpdir=tmpdir)
        summary = f'{len(names) - len(must_fail)} passed, {len(must_fail)} failed'
        check('the whole run ends with ' + summary, out.endswith(summary + '\n'), out)
        check('a run with failures exits 1', status == 1, f'status {status}')
        check('no traceback', 'Traceback' not in out, out)
        blocks = failure_blocks(out)
        check('exactly the must-fail and broken cases fail', sorted(blocks) == sorted(must_fail),
              f'failed: {sorted(blocks)}')
        for name, text in FAILURE_REPORTS.items():
            block = blocks.get('must fail: ' + name, '')
            check(f'the report of "{name}" shows {text!r}', text in block, block)
        for file, line, text in expected_errors():
            check(f'{file}:{line} is reported as malformed ({text})',
                  re.search(rf'^FAIL \S*{re.escape(file)}:{line}: .*malformed.*{re.escape(text)}',
                            out, re.M) is not None, out)
        kept = re.findall(r'^    kept: (.*)$', out, re.M)
        leftover = sorted(os.path.join(tmpdir, d) for d in os.listdir(tmpdir))
        check('failing cases keep their directory, passing ones do not',
              leftover == sorted(kept), f'kept {kept}, left {leftover}')
    finally:
        shutil.rmtree(tmpdir, ignore_errors=True)

    passing = [p for p in CASE_FILES
               if not p.endswith(('failures.case', 'malformed.case', 'locales.case'))]
    status, out = run(*passing)
    check('a run without failures exits 0', status == 0 and out.endswith(' 0 failed\n'), out)
    with tempfile.TemporaryDirectory(prefix='orv-selftest-') as kept:
        # The clock is left ample: a loaded machine may stretch the second of work many times.
        status, out = run('-k', 'computes too long', '--timeout', '120', FAILURES_FILE,
                          tmpdir=kept)
    check('a case that computes too long is stopped by its processor time',
          status == 1 and 'used up its 1 s of processor time' in out
          and 'timed out' not in out, out)
    status, out = run('-k', 'json gives exact bytes', HERE)
    check('-k selects by name', status == 0 and out == '1 passed, 0 failed\n', out)
    status, out = run('-k', 'no case has this name', HERE)
    check('a run where nothing ran exits 1', status == 1 and '0 passed, 0 failed' in out, out)
    status, out = run('--list', *passing)
    listed = re.findall(r'^\S+:\d+: (.*)$', out, re.M)
    check('--list names every case, in order',
          status == 0 and listed == [n for path in passing for n in case_names(path)], out)

    with tempfile.TemporaryDirectory(prefix='orv-selftest-') as kept:
        status, out = run(LOCALES_FILE, tmpdir=kept, locales=('C', 'C.UTF-8'))
    check('each case runs in each locale unless it names its own',
          status == 1 and out.endswith('3 passed, 2 failed\n'), out)
    check('a failure names its locale, whose LANG the case had',
          re.search(r'^FAIL .*: must fail: a failure names its locale \[LANG=C\.UTF-8\]\n'
                    r'(    .*\n)*    \+C\.UTF-8\n', out, re.M) is not None, out)
    status, out = run(LOCALES_FILE, locales=('xx_NO.SUCH',))
    check('a locale the system lacks is refused',
          status != 0 and 'no such locale on this system: xx_NO.SUCH' in out, out)
    env = {'ASAN_OPTIONS': 'log_path=/r/asan'}
    run_cases.set_env(env, 'ASAN_OPTIONS', 'quarantine_size_mb=0')
    run_cases.set_env(env, 'UBSAN_OPTIONS', 'halt_on_error=1')
    check('a case adds to the sanitizer options of the run',
          env == {'ASAN_OPTIONS': 'log_path=/r/asan:quarantine_size_mb=0',
                  'UBSAN_OPTIONS': 'halt_on_error=1'}, repr(env))

    failed = results.count(False)
    print(f'{len(results) - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
