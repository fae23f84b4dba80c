#!/usr/bin/env python3
"""A stand-in for the shell, just enough to exercise run_cases.py.

    fake_orv.py [-OPTION...] [-c TEXT | SCRIPT] [ARG...]    (no TEXT or SCRIPT: read stdin)

Each line is one command:
    out WORD...    print the words to stdout       outn WORD...  the same without the newline
    err WORD...    print the words to stderr       argv          print each of its own arguments
    env NAME       print the variable, or "NAME unset" on stderr
    pwd            print the working directory     cat-stdin     copy stdin to stdout
    exit N         exit with status N              kill SIG      kill itself with SIGSIG
    sleep SECONDS  sleep                           spin          compute until stopped
Anything else prints "unknown" to stderr and exits 1.
"""

import os
import signal
import sys
import time


def run(line):
    words = line.split()
    if not words:
        return
    command, rest = words[0], words[1:]
    if command in ('out', 'outn'):
        sys.stdout.write(' '.join(rest) + ('\n' if command == 'out' else ''))
    elif command == 'err':
        sys.stderr.write(' '.join(rest) + '\n')
    elif command == 'argv':
        sys.stdout.write(''.join(arg + '\n' for arg in sys.argv[1:]))
    elif command == 'env' and len(rest) == 1:
        value = os.environ.get(rest[0])
        if value is None:
            sys.stderr.write(f'{rest[0]} unset\n')
        else:
            sys.stdout.write(value + '\n')
    elif command == 'pwd':
        sys.stdout.write(os.getcwd() + '\n')
    elif command == 'cat-stdin':
        sys.stdout.flush()
        sys.stdout.buffer.write(sys.stdin.buffer.read())
    elif command == 'exit' and len(rest) == 1:
        sys.stdout.flush()
        sys.exit(int(rest[0]))
    elif command == 'kill' and len(rest) == 1:
        sys.stdout.flush()
        sig = getattr(signal, 'SIG' + rest[0])
        signal.signal(sig, signal.SIG_DFL)
        os.kill(os.getpid(), sig)
    elif command == 'sleep' and len(rest) == 1:
        time.sleep(float(rest[0]))
    elif command == 'spin':
        while True:
            pass
    else:
        sys.stderr.write('unknown\n')
        sys.stdout.flush()
        sys.exit(1)
    sys.stdout.flush()  # keep stdout and stderr in command order when both go to one file


def main():
    args = sys.argv[1:]
    while args and args[0].startswith('-') and args[0] != '-c':
        args.pop(0)  # options are accepted and ignored
    if args and args[0] == '-c':
        text = args[1]
    elif args:
        with open(args[0]) as f:
            text = f.read()
    else:
        text = sys.stdin.read()
    for line in text.split('\n'):
        run(line)


if __name__ == '__main__':
    main()
