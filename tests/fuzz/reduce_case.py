#!/usr/bin/env python3
"""Shrinks a failing fuzz case while it still fails the same way.

Greedy and simple: drop chunks of lines (halving the chunk size down to one line), then single
words of each line, then the extra files, standard input, options and arguments; repeat while
anything shrank. The failure must keep its signature (the kind of report and the first frame
in the shell's sources, or the signal, or a hang in the same input mode).

    reduce_case.py --orv build-asan/orv CASE [-o OUT]
"""

import argparse
import os
import re
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_scripts  # noqa: E402
import run_shell_fuzz  # noqa: E402


def loops_bounded(text):
    """Every `while` still has its generated counter and the line that raises it, so that
    shrinking a hang never turns it into an endless loop the script asks for."""
    for m in re.finditer(r'^\s*while\b(.*)$', text, re.M):
        counter = re.match(r'\s*\( \$(_i\d+) < \d \)\s*$', m.group(1))
        if not counter or '@ %s++' % counter.group(1) not in text:
            return False
    return True


def reduce(case, runner, signature, timeout, budget=300):
    """The smallest case found within `budget` seconds that fails with `signature`."""
    deadline = time.monotonic() + budget
    best = case.copy()

    def fails(candidate):
        if time.monotonic() > deadline:
            return False
        if gen_scripts.check_safe(candidate.script):
            return False
        if signature.startswith('hang') and not all(
                loops_bounded(t) for t in [candidate.script] + list(candidate.files.values())):
            return False
        res = runner.run(candidate, timeout)
        return res.failed and res.signature == signature

    def get_text(c, name):
        return c.script if name is None else c.files[name]

    def set_text(c, name, text):
        if name is None:
            c.script = text
        else:
            c.files[name] = text

    def try_lines(cur, name=None):
        lines = get_text(cur, name).split('\n')
        chunk = max(1, len(lines) // 2)
        while chunk >= 1:
            i = 0
            while i < len(lines):
                cand = cur.copy()
                set_text(cand, name, '\n'.join(lines[:i] + lines[i + chunk:]))
                if fails(cand):
                    cur, lines = cand, lines[:i] + lines[i + chunk:]
                else:
                    i += chunk
            chunk //= 2
        return cur

    def try_files(cur):
        for name in list(cur.files):
            cur = try_lines(cur, name)
        return cur

    def try_words(cur):
        lines = cur.script.split('\n')
        for li in range(len(lines)):
            words = lines[li].split(' ')
            j = 0
            while j < len(words) and len(words) > 1:
                trial = words[:j] + words[j + 1:]
                cand = cur.copy()
                cand.script = '\n'.join(lines[:li] + [' '.join(trial)] + lines[li + 1:])
                if fails(cand):
                    cur, words = cand, trial
                    lines[li] = ' '.join(trial)
                else:
                    j += 1
        return cur

    def try_setup(cur):
        for name in list(cur.files):
            cand = cur.copy()
            del cand.files[name]
            if fails(cand):
                cur = cand
        for field, empty in (('stdin', ''), ('argv', []), ('lang', 'C'), ('env', {})):
            if getattr(cur, field) != empty:
                cand = cur.copy()
                setattr(cand, field, empty)
                if fails(cand):
                    cur = cand
        for opt in list(cur.options):
            cand = cur.copy()
            cand.options.remove(opt)
            if fails(cand):
                cur = cand
        if cur.mode not in ('script', 'c'):
            for mode in ('script', 'c'):
                cand = cur.copy()
                cand.mode = mode
                if fails(cand):
                    return cand
        return cur

    while time.monotonic() < deadline:
        before = (len(best.script), len(best.to_text()))
        best = try_files(try_setup(try_words(try_lines(best))))
        if (len(best.script), len(best.to_text())) == before:
            break
    return best


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--orv', required=True)
    ap.add_argument('--timeout', type=float, default=10)
    ap.add_argument('--seconds', type=float, default=600, help='time budget')
    ap.add_argument('-o', '--output', help='default: CASE with .min.case')
    ap.add_argument('case')
    args = ap.parse_args()
    with open(args.case, encoding='utf-8', errors='surrogateescape') as f:
        case = gen_scripts.Case.from_text(f.read())
    root = tempfile.mkdtemp(prefix='orv-reduce-')
    try:
        runner = run_shell_fuzz.Runner(args.orv, root, args.timeout)
        res = runner.run(case)
        if not res.failed:
            print('reduce_case: the case does not fail')
            return 1
        print('reduce_case: %s [%s]' % (res.detail, res.signature))
        small = reduce(case, runner, res.signature, args.timeout, args.seconds)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    out = args.output or os.path.splitext(args.case)[0] + '.min.case'
    with open(out, 'w', encoding='utf-8', errors='surrogateescape') as f:
        f.write(small.to_text())
    print('reduce_case: %d -> %d bytes of script in %s' % (len(case.script), len(small.script),
                                                           out))
    sys.stdout.write(small.script)
    return 0


if __name__ == '__main__':
    sys.exit(main())
