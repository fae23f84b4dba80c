#!/usr/bin/env python3
"""Checks the manual page man/orv.1 against the shell.

Every builtin command must have an entry (`.It Ic NAME`) and every variable that the shell
sets or consults must have one (`.It Va NAME`); the page must lint clean under mandoc. The
page as the build installs it (--installed-page) names in its footer the version that
`orv --version` prints.

The builtins are found by asking the shell: every identifier-like string literal of the
sources is given to `which`, and the words it calls built-in commands are the builtins, so
the check does not depend on where or how the table is written. The variables are the
literal names the sources hand to the variable store (set_word, var_lookup, var_value,
is_set, ...), together with the variables a fresh shell lists with `set`.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# A call into the variable store with a literal name: var_lookup("path"), set_word("prompt2",
# ...), variable_is_set("noglob"), var_unset(chars("child")).
VARIABLE_CALL = re.compile(
    r'\b[A-Za-z_]*(?:var|set|lookup|value)[A-Za-z_]*\(\s*(?:chars\()?"([a-z_][a-z0-9_]*)"')
LITERAL = re.compile(r'"([a-z_@][a-z0-9_]*)"')
# Fewer than this many names means the scan has gone stale, not that the shell shrank.
MIN_BUILTINS = 50
MIN_VARIABLES = 25


def source_texts(src):
    for dirpath, _, files in os.walk(src):
        for name in sorted(files):
            if name.endswith((".cpp", ".h")):
                with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                    yield f.read()


def run_orv(orv, args, stdin="", cwd=None, home=None):
    env = {"PATH": "/usr/bin:/bin", "LANG": "C", "HOME": home or "/nonexistent",
           "USER": "tester", "TERM": "dumb"}
    return subprocess.run([orv, "-f", *args], input=stdin, capture_output=True, text=True,
                          env=env, cwd=cwd, timeout=60)


def find_builtins(orv, texts, workdir):
    words = sorted({w for t in texts for w in LITERAL.findall(t)})
    found = set()
    # `which` takes at most 1000 arguments; an empty path keeps it from searching.
    for i in range(0, len(words), 500):
        chunk = " ".join(words[i:i + 500])
        out = run_orv(orv, ["-c", "set path = () ; which " + chunk], cwd=workdir)
        found |= set(re.findall(r"^(\S+): shell built-in command\.$", out.stdout, re.M))
    return found


def find_variables(orv, texts, workdir):
    names = {n for t in texts for n in VARIABLE_CALL.findall(t)}
    for args in (["-c", "set"], ["-i"]):
        out = run_orv(orv, args, stdin="set\n", cwd=workdir, home=workdir)
        names |= set(re.findall(r"^([a-z_][a-z0-9_]*)\t", out.stdout, re.M))
    return names


def page_entries(page, macro):
    with open(page, encoding="utf-8") as f:
        text = f.read()
    return set(re.findall(r"^\.It %s (\S+)" % macro, text, re.M))


def lint(page):
    """Returns the lint messages about the page itself, or None without mandoc."""
    mandoc = shutil.which("mandoc")
    if not mandoc:
        return None
    out = subprocess.run([mandoc, "-T", "lint", "-W", "style", page], capture_output=True,
                         text=True)
    # Cross references are looked up in the machine's manual database, which says nothing
    # about the page.
    return [line for line in (out.stdout + out.stderr).splitlines()
            if line and "mandoc.db" not in line and "referenced manual not found" not in line]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--orv", required=True)
    ap.add_argument("--page", default=os.path.join(ROOT, "man", "orv.1"))
    ap.add_argument("--src", default=os.path.join(ROOT, "src"))
    ap.add_argument("--installed-page", help="the page as installed, with the version")
    opts = ap.parse_args()
    opts.orv = os.path.abspath(opts.orv)

    texts = list(source_texts(opts.src))
    passed = failed = 0

    def check(ok, what):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print("FAIL: " + what)

    with tempfile.TemporaryDirectory() as work:
        builtins = find_builtins(opts.orv, texts, work)
        variables = find_variables(opts.orv, texts, work)

    check(len(builtins) >= MIN_BUILTINS,
          "only %d builtins found in the sources: the scan is stale" % len(builtins))
    check(len(variables) >= MIN_VARIABLES,
          "only %d variables found in the sources: the scan is stale" % len(variables))
    documented = page_entries(opts.page, "Ic")
    for name in sorted(builtins):
        check(name in documented, "builtin %s has no '.It Ic %s' entry" % (name, name))
    documented = page_entries(opts.page, "Va")
    for name in sorted(variables):
        check(name in documented, "variable %s has no '.It Va %s' entry" % (name, name))

    if opts.installed_page:
        version = subprocess.run([opts.orv, "--version"], capture_output=True, text=True,
                                 timeout=60).stdout
        with open(opts.installed_page, encoding="utf-8") as f:
            footer = re.findall(r"^\.Os (.*)$", f.read(), re.M)
        check(re.fullmatch(r"orv \d+\.\d+\.\d+\n", version) is not None,
              "orv --version prints %r, not orv and a version" % version)
        check(footer == [version.strip()],
              "the installed page's footer %r is not the version %r" % (footer, version.strip()))

    messages = lint(opts.page)
    if messages is None:
        print("note: mandoc is not installed; the page was not linted")
    else:
        for line in messages:
            print(line)
        check(not messages, "mandoc -T lint reports %d messages" % len(messages))

    print("man_check: %d builtins, %d variables" % (len(builtins), len(variables)))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
