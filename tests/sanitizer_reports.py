#!/usr/bin/env python3
"""Empties or checks the directory where the sanitizer tree's programs write their reports.

    sanitizer_reports.py --clear DIR    remove every report, so that a run starts with none
    sanitizer_reports.py DIR            print every report found; exit 1 if there is one

The shell moves descriptors 0 to 2 away from their numbers, so a report written to standard
error can be lost; the test runs point ASAN_OPTIONS and UBSAN_OPTIONS log_path here instead.
"""

import os
import shutil
import sys

SHOWN_LINES = 80  # of each report; the file keeps the rest


def main():
    args = sys.argv[1:]
    clear = args[:1] == ['--clear']
    if clear:
        args = args[1:]
    if len(args) != 1:
        sys.exit('usage: sanitizer_reports.py [--clear] DIR')
    directory = args[0]
    if clear:
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        return 0
    reports = sorted(os.listdir(directory)) if os.path.isdir(directory) else []
    for name in reports:
        path = os.path.join(directory, name)
        with open(path, errors='replace') as f:
            lines = f.readlines()
        print(f'==== {path}')
        sys.stdout.writelines(lines[:SHOWN_LINES])
        if len(lines) > SHOWN_LINES:
            print(f'... {len(lines) - SHOWN_LINES} more lines in the file')
    print(f'{len(reports)} sanitizer reports in {directory}')
    return 1 if reports else 0


if __name__ == '__main__':
    sys.exit(main())
