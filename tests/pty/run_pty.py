#!/usr/bin/env python3
"""Runs the terminal tests: every test_* function of the tests/pty/test_*.py files, one at a time.

    run_pty.py --orv PATH --helper PATH [-k SUBSTRING] [FILES...]

Each test gets a fresh HOME and working directory (ptyshell.config.home, .work); the paths of
the shell and of orv_test_helper are ptyshell.config.orv and .helper.
"""

import argparse
import glob
import importlib.util
import inspect
import os
import sys
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)  # the tests import ptyshell

import ptyshell  # noqa: E402


def load_tests(path):
    """Returns the test_* functions of one file in the order they are written."""
    name = 'pty_' + os.path.splitext(os.path.basename(path))[0]
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    tests = [f for n, f in vars(module).items()
             if n.startswith('test_') and inspect.isfunction(f) and f.__module__ == name]
    return sorted(tests, key=lambda f: f.__code__.co_firstlineno)


def run_test(test):
    """Runs one test; returns None when it passes, else the failure report."""
    ptyshell.begin_test()
    try:
        test()
        return None
    except ptyshell.ShellFailure as e:  # already names the test's line and has its transcript
        return str(e)
    except Exception:
        # A plain assert or an error: the traceback, then what the test's terminals showed.
        return '\n'.join([traceback.format_exc().rstrip(), *ptyshell.live_transcripts()])
    finally:
        ptyshell.end_test()


def main():
    parser = argparse.ArgumentParser(description='Run the terminal tests.')
    parser.add_argument('--orv', help='the shell under test')
    parser.add_argument('--helper', help='the orv_test_helper binary')
    parser.add_argument('-k', dest='keyword', help='run only tests whose FILE::NAME contains this')
    parser.add_argument('files', nargs='*', help='test files (default: test_*.py beside this)')
    opts = parser.parse_args()
    ptyshell.config.orv = opts.orv and os.path.abspath(opts.orv)
    ptyshell.config.helper = opts.helper and os.path.abspath(opts.helper)

    passed = failed = 0
    for path in opts.files or sorted(glob.glob(os.path.join(HERE, 'test_*.py'))):
        try:
            tests = load_tests(path)
        except Exception:
            failed += 1
            print(f'FAIL {path}: cannot load\n{traceback.format_exc()}')
            continue
        for test in tests:
            label = f'{os.path.basename(path)}::{test.__name__}'
            if opts.keyword and opts.keyword not in label:
                continue
            report = run_test(test)
            if report is None:
                passed += 1
                print(f'ok   {label}')
            else:
                failed += 1
                print(f'FAIL {label}\n{report}')
            sys.stdout.flush()
    print(f'{passed} passed, {failed} failed')
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == '__main__':
    sys.exit(main())
