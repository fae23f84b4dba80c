#!/usr/bin/env python3
"""Whole-shell fuzzer: runs generated scripts (gen_scripts.py) through the real orv binary.

Each script runs in a fresh work directory inside a scratch root, with a PATH of copies of
harmless programs, HOME and TMPDIR inside the work directory, standard input from a file, a pipe
or /dev/null, in a session of its own and under a time limit. A script fails when the shell dies
of a signal, a sanitizer writes a report (ASAN_OPTIONS/UBSAN_OPTIONS log_path point into the
scratch root), or the time limit passes. Failing cases are saved with their seed and the first of
each kind is reduced (reduce_case.py).

    run_shell_fuzz.py --orv build-asan/orv --seconds 600 [--seed N] [--out DIR]
    run_shell_fuzz.py --orv build-asan/orv --replay tests/fuzz/scripts

When it can, a fuzzing run (not a replay) puts itself in new PID and mount namespaces where every
file system but the scratch root and the output directory is read-only, so that not even a
generator mistake can harm the machine the tests run on as root.
"""

import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_scripts  # noqa: E402

MS_BIND = 4096

# Signals that mean a fault in the shell, not a signal a script could have sent it.
FAULT_SIGNALS = (signal.SIGSEGV, signal.SIGABRT, signal.SIGBUS, signal.SIGFPE, signal.SIGILL,
                 signal.SIGSYS, signal.SIGTRAP)

BASE_FILES = {
    'f1': 'alpha\nbeta\ngamma\n',
    'f2': 'one two\nthree\n',
    'a.c': 'int main;\n',
    'b.txt': 'b\n',
    'sp ace': 'space\n',
    'd1/f3': 'f3 line\n',
    'd1/d2/.keep': '',
    'home/.keep': '',
    'tmp/.keep': '',
}


class Result:
    def __init__(self, category, detail='', signature='', report='', status=None, elapsed=0.0):
        self.category = category  # 'ok', 'hang', 'crash', 'signal' or 'sanitizer'
        self.detail = detail
        self.signature = signature
        self.report = report
        self.status = status
        self.elapsed = elapsed

    @property
    def failed(self):
        return self.category != 'ok'


class Runner:
    """Runs cases in one scratch root; makes the PATH directory once."""

    def __init__(self, orv, root, timeout, leaks=False):
        self.orv = os.path.abspath(orv)
        self.leaks = leaks
        self.root = root
        self.timeout = timeout
        self.bin = os.path.join(root, 'bin')
        self.san = os.path.join(root, 'san')
        os.makedirs(self.bin, exist_ok=True)
        os.makedirs(self.san, exist_ok=True)
        for prog in gen_scripts.HARMLESS_PROGRAMS:
            src = shutil.which(prog, path='/usr/bin:/bin')
            if src is None:
                raise SystemExit('run_shell_fuzz: no %s on this machine' % prog)
            # A copy, not a link: a redirection through a link would write the system's program.
            shutil.copy2(os.path.realpath(src), os.path.join(self.bin, prog))

    def layout(self, case):
        work = os.path.join(self.root, 'w')
        shutil.rmtree(work, ignore_errors=True)
        for name, text in list(BASE_FILES.items()) + list(case.files.items()):
            if name.startswith('/') or '..' in name.split('/'):
                raise ValueError('a case file outside the work directory: %r' % name)
            path = os.path.join(work, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'w', encoding='utf-8', errors='surrogateescape') as f:
                f.write(text)
        for name in list(os.listdir(self.san)):
            os.unlink(os.path.join(self.san, name))
        return work

    def environment(self, case, work):
        env = self.base_environment(case, work)
        for name, value in getattr(case, 'env', {}).items():
            if name == 'PATH+':
                env['PATH'] += ':' + value
            elif value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return env

    def base_environment(self, case, work):
        return {
            'PATH': self.bin,
            'HOME': os.path.join(work, 'home'),
            'TMPDIR': os.path.join(work, 'tmp'),
            'LANG': case.lang,
            'TERM': 'dumb',
            'USER': 'fuzz',
            'LOGNAME': 'fuzz',
            'FOO': 'foo env',
            'ASAN_OPTIONS': 'log_path=%s/asan:detect_leaks=%d:abort_on_error=0' % (
                self.san, self.leaks),
            'UBSAN_OPTIONS': 'print_stacktrace=1:halt_on_error=1:log_path=%s/ubsan' % self.san,
        }

    def command(self, case, work):
        argv = [self.orv] + case.options
        if case.mode == 'script':
            path = os.path.join(work, 'script.orv')
            with open(path, 'w', encoding='utf-8', errors='surrogateescape') as f:
                f.write(case.script)
            return argv + ['script.orv'] + case.argv
        if case.mode == 'c':
            return argv + ['-c', case.script.replace('\0', '')] + case.argv
        if case.mode == 'ipipe':
            return argv + ['-i'] + case.argv
        return argv + (['-s'] + case.argv if case.argv else [])

    def run(self, case, timeout=None):
        timeout = timeout or self.timeout
        work = self.layout(case)
        env = self.environment(case, work)
        argv = self.command(case, work)
        data = case.stdin
        if case.mode in ('stdin', 'pipe', 'ipipe'):
            data = case.script
        data = data.encode('utf-8', 'surrogateescape')
        out_path = os.path.join(self.root, 'stdout')
        err_path = os.path.join(self.root, 'stderr')
        writer = None
        read_end = write_end = None
        if case.mode in ('pipe', 'ipipe'):
            read_end, write_end = os.pipe()
            stdin = read_end
        elif data:
            in_path = os.path.join(self.root, 'stdin')
            with open(in_path, 'wb') as f:
                f.write(data)
            stdin = open(in_path, 'rb')
        else:
            stdin = subprocess.DEVNULL
        start = time.monotonic()
        with open(out_path, 'wb') as out, open(err_path, 'wb') as err:
            proc = subprocess.Popen(argv, cwd=work, env=env, stdin=stdin, stdout=out, stderr=err,
                                    start_new_session=True)
        if read_end is not None:
            os.close(read_end)
            writer = threading.Thread(target=_feed, args=(write_end, data), daemon=True)
            writer.start()
        elif hasattr(stdin, 'close'):
            stdin.close()
        hung = False
        self.hang_state = ''
        try:
            status = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            hung = True
            self.hang_state = session_state(proc.pid)
            _kill_group(proc.pid)
            status = proc.wait()
        elapsed = time.monotonic() - start
        _kill_group(proc.pid)  # background jobs the script left behind
        _reap_orphans()
        if writer is not None:
            writer.join(5)
        return self.classify(case, status, hung, elapsed)

    def classify(self, case, status, hung, elapsed):
        reports = []
        for name in sorted(os.listdir(self.san)):
            with open(os.path.join(self.san, name), errors='replace') as f:
                reports.append(f.read())
        if reports:
            report = '\n'.join(reports)
            return Result('sanitizer', first_line(report), report_signature(report), report,
                          status, elapsed)
        if hung:
            if re.search(r'\bstop\b|-STOP\b', case.script):
                return Result('ok', 'stopped job', status=status, elapsed=elapsed)
            return Result('hang', 'no end after %.0fs' % elapsed, 'hang:%s' % case.mode,
                          self.hang_state + '\n' + self.stderr_tail(), status, elapsed)
        if status < 0:
            sig = signal.Signals(-status)
            cat = 'crash' if -status in FAULT_SIGNALS else 'signal'
            return Result(cat, 'killed by %s' % sig.name, '%s:%s' % (cat, sig.name),
                          self.stderr_tail(), status, elapsed)
        return Result('ok', status=status, elapsed=elapsed)

    def stderr_tail(self):
        with open(os.path.join(self.root, 'stderr'), 'rb') as f:
            return f.read()[-2000:].decode('utf-8', 'replace')

    def output(self):
        with open(os.path.join(self.root, 'stdout'), 'rb') as f:
            out = f.read()
        with open(os.path.join(self.root, 'stderr'), 'rb') as f:
            return out, f.read()


def session_state(sid):
    """Each process of the session: pid, parent, state, what it waits in, its command."""
    rows = []
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            with open('/proc/%s/stat' % pid) as f:
                stat = f.read()
            fields = stat[stat.rindex(')') + 2:].split()
            if int(fields[3]) != sid:
                continue
            with open('/proc/%s/wchan' % pid) as f:
                wchan = f.read()
            with open('/proc/%s/cmdline' % pid, 'rb') as f:
                cmd = f.read().replace(b'\0', b' ').decode('utf-8', 'replace')[:100]
            rows.append('%s ppid %s %s %s %s' % (pid, fields[1], fields[0], wchan, cmd))
        except (OSError, ValueError, IndexError):
            continue
    return 'processes of the session at the time limit:\n' + '\n'.join(rows)


def _feed(fd, data):
    try:
        os.write(fd, data) if len(data) < 32768 else _write_all(fd, data)
    except OSError:
        pass
    finally:
        os.close(fd)


def _write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


def _kill_group(pgid):
    try:
        os.killpg(pgid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def _reap_orphans():
    """As PID 1 of a namespace the runner inherits every orphan: reap them."""
    if os.getpid() != 1:
        return
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def first_line(report):
    for line in report.splitlines():
        if 'ERROR: AddressSanitizer' in line or 'runtime error' in line or 'ERROR: ' in line:
            return line.strip()
    return report.strip().splitlines()[0] if report.strip() else ''


def report_signature(report):
    """The kind of report and the first frame in the shell's own sources."""
    kind = 'report'
    m = re.search(r'ERROR: AddressSanitizer: ([\w-]+)', report)
    if m:
        kind = m.group(1)
        if kind == 'stack-overflow':
            return kind  # where the stack ran out says little about the recursion
    else:
        m = re.search(r'runtime error: ([a-z -]+)', report)
        if m:
            kind = 'ub:' + m.group(1).strip().replace(' ', '-')
        m2 = re.search(r'(src/[\w/]+\.(?:cpp|h)):(\d+)', report)
        if m2:
            return '%s@%s:%s' % (kind, m2.group(1), m2.group(2))
    for line in report.splitlines():
        m = re.search(r'#\d+ 0x[0-9a-f]+ in (.+?) (\S*src/[\w/]+\.cpp):\d+', line)
        if m:
            func = re.sub(r'\(.*', '', m.group(1)).split('::')[-1]
            return '%s@%s:%s' % (kind, m.group(2).split('src/')[-1], func)
    return kind


def slug(signature):
    return re.sub(r'[^\w.-]+', '_', signature)[:80]


def load_cases(paths):
    files = []
    for p in paths:
        if os.path.isdir(p):
            files += sorted(os.path.join(p, n) for n in os.listdir(p) if n.endswith('.case'))
        else:
            files.append(p)
    for path in files:
        with open(path, encoding='utf-8', errors='surrogateescape') as f:
            yield path, gen_scripts.Case.from_text(f.read())


def replay(args):
    gen_scripts.self_check()
    root = tempfile.mkdtemp(prefix='orv-fuzz-replay-')
    try:
        runner = Runner(args.orv, root, args.timeout)
        passed = failed = 0
        for path, case in load_cases(args.replay):
            bad = gen_scripts.check_safe(case.script)
            if bad:
                print('%s: refused, not safe to run (%s)' % (path, bad))
                failed += 1
                continue
            res = runner.run(case)
            if res.failed:
                failed += 1
                print('FAIL %s: %s %s' % (path, res.category, res.detail))
                if res.report:
                    print(res.report[:3000])
            else:
                passed += 1
        print('%d passed, %d failed' % (passed, failed))
        return 1 if failed or not passed else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


CONSTRUCTS = ('<<', '|&', '>&', '>>', '>!', '&&', '||', ' &', '(', '`', 'foreach', 'while',
              'switch', 'goto', 'onintr', 'repeat', 'if ', 'else', '$<', '$#', '$?', '${', ':s',
              ':g', ':a', ':q', ':x', ':h', ':t', ':r', ':e', '[', '!', '^', 'alias', 'eval',
              'source', 'set ', '@', 'unset', 'setenv', 'printf', 'history', 'pushd', 'popd',
              'cd', 'glob', 'kill', 'jobs', 'wait', 'time', 'nice', 'nohup', 'shift', 'exit',
              '*', '?', '{', '~', '=0', '\\', "'", '"', 'x' * 1000)


def features(case, res, runner):
    """What a case exercises: its mode and options, constructs, and the messages it drew."""
    found = {'mode:' + case.mode, 'lang:' + case.lang}
    found.update('opt:' + o for o in case.options)
    found.update('has:' + c for c in CONSTRUCTS if c in case.script)
    _, err = runner.output()
    for line in err.decode('utf-8', 'replace').splitlines():
        found.add('msg:' + re.sub(r'[0-9]+', 'N', re.sub(r'^[^:]*: ', '', line))[:60])
    return found


def pick_corpus(args):
    """Runs --count cases and keeps a small set of passing ones that covers the most."""
    root = tempfile.mkdtemp(prefix='orv-fuzz-corpus-')
    try:
        runner = Runner(args.orv, root, args.timeout)
        base = args.seed or 0
        candidates = []
        for i in range(args.count):
            case = gen_scripts.generate(base + i)
            if len(case.to_text()) > 3000:
                continue
            res = runner.run(case)
            if res.failed:
                continue
            candidates.append((case, features(case, res, runner), res.elapsed))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    chosen, covered = [], set()
    while candidates and len(chosen) < args.corpus_size:
        # The most new features per second of run time: the replay must stay quick.
        case, feats, _ = max(candidates, key=lambda c: len(c[1] - covered) / (0.2 + c[2]))
        if not feats - covered:
            break
        chosen.append(case)
        covered |= feats
        candidates = [c for c in candidates if c[0] is not case]
    os.makedirs(args.pick_corpus, exist_ok=True)
    for case in chosen:
        path = os.path.join(args.pick_corpus, 'seed-%s.case' % case.seed)
        with open(path, 'w', encoding='utf-8', errors='surrogateescape') as f:
            f.write(case.to_text())
    print('run_shell_fuzz: %d cases cover %d features' % (len(chosen), len(covered)))
    return 0


def save_failure(out, case, res, runner):
    d = os.path.join(out, slug(res.signature))
    os.makedirs(d, exist_ok=True)
    base = os.path.join(d, 'seed-%s' % case.seed)
    with open(base + '.case', 'w', encoding='utf-8', errors='surrogateescape') as f:
        f.write(case.to_text())
    with open(base + '.txt', 'w', encoding='utf-8', errors='replace') as f:
        f.write('%s: %s\nsignature: %s\nstatus: %s\n\n%s\n' % (
            res.category, res.detail, res.signature, res.status, res.report))
    return d, base + '.case'


def fuzz(args):
    import reduce_case
    os.makedirs(args.out, exist_ok=True)
    base = args.seed if args.seed is not None else int(time.time()) % 10**7 * 1000
    print('run_shell_fuzz: seeds from %d, %s, findings in %s' % (
        base, '%d s' % args.seconds if args.seconds else '%d scripts' % args.count, args.out))
    sys.stdout.flush()
    deadline = time.monotonic() + args.seconds if args.seconds else None
    root = args.scratch
    seen = {}
    ran = failures = 0
    runner = None
    batch_dir = None
    try:
        i = 0
        while True:
            if deadline is not None and time.monotonic() >= deadline:
                break
            if deadline is None and i >= args.count:
                break
            if i % args.batch == 0:
                # A fresh scratch root for every batch, under a new name: a background job of
                # the last batch may still be writing into the old one as it is removed.
                if batch_dir:
                    shutil.rmtree(batch_dir, ignore_errors=True)
                batch_dir = os.path.join(root, 'b%d' % i)
                os.makedirs(batch_dir)
                runner = Runner(args.orv, batch_dir, args.timeout, args.leaks)
            seed = base + i
            i += 1
            case = gen_scripts.generate(seed)
            res = runner.run(case)
            ran += 1
            if res.category == 'hang':
                # Confirm with a longer limit: a loaded machine is not a hang.
                res = runner.run(case, args.timeout * 4)
            if not res.failed:
                if ran % 500 == 0:
                    print('run_shell_fuzz: %d scripts, %d failing' % (ran, failures))
                    sys.stdout.flush()
                continue
            failures += 1
            d, path = save_failure(args.out, case, res, runner)
            first = res.signature not in seen
            seen[res.signature] = seen.get(res.signature, 0) + 1
            print('FAIL seed %d: %s %s [%s]' % (seed, res.category, res.detail, res.signature))
            sys.stdout.flush()
            if first and args.reduce:
                # A hang hangs at any limit: a short one lets the reducer try more.
                small = reduce_case.reduce(case, runner, res.signature,
                                           args.timeout if res.category != 'hang' else
                                           min(args.timeout, 5), budget=args.reduce_seconds)
                with open(os.path.join(d, 'min.case'), 'w', encoding='utf-8',
                          errors='surrogateescape') as f:
                    f.write(small.to_text())
                print('  reduced to %s (%d bytes of script)' % (os.path.join(d, 'min.case'),
                                                                 len(small.script)))
                sys.stdout.flush()
    finally:
        if batch_dir:
            shutil.rmtree(batch_dir, ignore_errors=True)
    print('run_shell_fuzz: %d scripts ran, %d failed, %d distinct' % (ran, failures, len(seen)))
    for sig, n in sorted(seen.items(), key=lambda kv: -kv[1]):
        print('  %5d  %s' % (n, sig))
    print('%d passed, %d failed' % (ran - failures, failures))
    return 1 if failures else 0


def sandbox_argv(scratch):
    """The command that runs this script again inside new PID and mount namespaces."""
    unshare = shutil.which('unshare')
    if unshare is None or os.geteuid() != 0:
        return None
    probe = subprocess.run([unshare, '--pid', '--fork', '--mount', '--mount-proc', 'true'],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if probe.returncode != 0:
        return None
    return [unshare, '--pid', '--fork', '--kill-child', '--mount', '--mount-proc',
            sys.executable, os.path.abspath(__file__)] + sys.argv[1:] + [
                '--in-sandbox', '--scratch', scratch]


def enter_read_only(writable):
    """Inside the namespaces: every mount read-only but the writable directories, and a /tmp
    of our own (here documents go there) so that the shells under test never meet the host's."""
    subprocess.run(['mount', '--make-rprivate', '/'], check=True)
    held = [os.open(d, os.O_PATH | os.O_DIRECTORY) for d in writable]
    subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=256m', 'tmpfs', '/tmp'], check=True)
    libc = ctypes.CDLL(None, use_errno=True)
    for d, fd in zip(writable, held):
        os.makedirs(d, exist_ok=True)
        # The held descriptor still names the directory the new /tmp hides (mount(8) would
        # resolve the /proc link to a path, which is now the wrong one).
        if libc.mount(b'/proc/self/fd/%d' % fd, d.encode(), None, MS_BIND, None) != 0:
            raise OSError(ctypes.get_errno(), 'bind mount of ' + d)
        os.close(fd)
    with open('/proc/self/mountinfo') as f:
        points = [line.split()[4] for line in f]
    keep = set(writable) | {'/proc', '/dev', '/dev/pts', '/sys', '/tmp'}
    for mp in points:
        if mp in keep or mp.startswith('/proc/') or mp.startswith('/sys/'):
            continue
        subprocess.run(['mount', '-o', 'remount,bind,ro', mp], stderr=subprocess.DEVNULL)
    probe = os.path.join('/', '.orv-fuzz-probe-%d' % os.getpid())
    try:
        open(probe, 'w').close()
    except OSError:
        return
    os.unlink(probe)
    raise SystemExit('run_shell_fuzz: could not make the root file system read-only')


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--orv', required=True, help='the shell binary under test')
    ap.add_argument('--seconds', type=float, default=0, help='fuzz for this long')
    ap.add_argument('--count', type=int, default=100, help='or run this many scripts')
    ap.add_argument('--seed', type=int, help='first seed (default: from the clock)')
    ap.add_argument('--timeout', type=float, default=10, help='seconds per script')
    ap.add_argument('--batch', type=int, default=200, help='scripts per scratch root')
    ap.add_argument('--out', default='fuzz-findings', help='where failing cases go')
    ap.add_argument('--scratch', default=None, help='directory for scratch roots')
    ap.add_argument('--no-reduce', dest='reduce', action='store_false')
    ap.add_argument('--reduce-seconds', type=float, default=300)
    ap.add_argument('--leaks', action='store_true', help='a leak report fails a script too')
    ap.add_argument('--sandbox', choices=('auto', 'on', 'off'), default='auto')
    ap.add_argument('--replay', nargs='+', help='run saved cases (files or directories) once')
    ap.add_argument('--pick-corpus', metavar='DIR',
                    help='run --count cases, keep a small covering set of passing ones in DIR')
    ap.add_argument('--corpus-size', type=int, default=32)
    ap.add_argument('--in-sandbox', action='store_true', help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.replay:
        return replay(args)
    if args.pick_corpus:
        return pick_corpus(args)
    args.out = os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    if args.in_sandbox:
        # As PID 1 of its namespace the runner would ignore a plain SIGTERM.
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        enter_read_only([args.out, args.scratch])
        return fuzz(args)
    args.scratch = tempfile.mkdtemp(prefix='orv-fuzz-', dir=args.scratch)
    try:
        if args.sandbox != 'off':
            cmd = sandbox_argv(args.scratch)
            if cmd is not None:
                return subprocess.call(cmd)
            if args.sandbox == 'on':
                raise SystemExit('run_shell_fuzz: no namespaces to run in')
            print('run_shell_fuzz: no namespaces here; only the generator\'s checks guard the run')
        return fuzz(args)
    finally:
        shutil.rmtree(args.scratch, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
