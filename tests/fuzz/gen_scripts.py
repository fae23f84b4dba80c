#!/usr/bin/env python3
"""Grammar-based generator of orv scripts for whole-shell fuzzing.

`generate(seed)` returns a `Case`: the script, the way it reaches the shell (script file, -c,
standard input, or -i on a pipe), options, arguments, standard input and the files laid out in
the scratch directory before the run. The same seed always gives the same case.

Scripts are mostly well formed, with some noise. They are safe to run as root in a scratch
directory whose PATH holds only harmless programs: every loop is bounded by construction (a
`while` counter is raised first thing in its body, `goto` only jumps forward to a label used
once, `repeat` counts are small), no word starts with `/`, `..` is never written, `cd` only goes
down or home, `kill` only names %jobs, and nothing that could leave the sandbox (`exec`,
`login`, `logout`, `suspend`, setting limits, negative `nice`) is ever written. `check_safe`
enforces that on the final text, noise included, and a case that fails it is generated anew.

Run as a program it prints cases: `gen_scripts.py SEED [COUNT]`.
"""

import json
import random
import re
import sys

# Programs the scratch PATH holds. Anything else on a command line is a builtin or is not found.
HARMLESS_PROGRAMS = ('echo', 'cat', 'true', 'false', 'printf', 'wc', 'sort', 'head', 'tr', 'expr',
                     'test', 'sleep')

MODES = ('script', 'c', 'stdin', 'pipe', 'ipipe')

VARS = ('a', 'b', 'x', 'y', 'list', 'n', 's', 'w', 'v1')
ENV_VARS = ('FOO', 'BAR', 'E1')
FILES = ('f1', 'f2', 'a.c', 'b.txt', 'd1/f3', 'out', 'out2', 'sp ace', 'new.txt', '~/h.txt')
READ_FILES = ('f1', 'f2', 'a.c', 'b.txt', 'd1/f3', 'nosuch', 'inc.orv')
DIRS = ('d1', 'd1/d2', 'home', 'nodir')
LITERALS = ('foo', 'bar', 'baz', 'a.c', 'b.txt', 'x.y.z', 'd1/f3', 'dir/sub/file.tar.gz', '0', '1',
            '2', '3', '10', '-1', '042', '-n', '-e', 'a:b', 'abc', 'aXbXc', 'caf\u00e9', '%d',
            '\\t',
            'x=y', 'end', 'then', 'if', 'set', 'default:', 'q')
GLOBS = ('*', '*.c', 'f?', '[ab]*', '*.none', 'd1/*', '{f1,f2}', 'x{a,b{c,d}}y', '{}', '{', '~',
         '~/*', '=0', '~nosuchuser_q', '[z-a]*', '[', 'f[12]', '*/*')
MODIFIERS = ('h', 't', 'r', 'e', 'q', 'x', 'gh', 'gt', 'gr', 'ge', 'ag', 'ah', 's/a/b/', 'gs/a/X/',
             'as/x/xx/', 'gas/o/0/', 's/o//', 's;c;C;', 's/a/', 'z', 'g', 's')
SIGNALS = ('', '-9 ', '-TERM ', '-HUP ', '-INT ', '-CONT ', '-15 ')


class Case:
    """One generated run: everything the driver needs to reproduce it."""

    def __init__(self, seed, mode='script', options=(), argv=(), stdin='', files=None, script='',
                 lang='C', env=None):
        self.seed = seed
        self.mode = mode
        self.options = list(options)
        self.argv = list(argv)
        self.stdin = stdin
        self.files = dict(files or {})
        self.script = script
        self.lang = lang
        # Changes to the environment: a value replaces, None removes, "PATH+" appends to PATH.
        self.env = dict(env or {})

    def to_text(self):
        """The case as a file: JSON header lines, then the script bytes verbatim."""
        meta = {'seed': self.seed, 'mode': self.mode, 'options': self.options, 'argv': self.argv,
                'stdin': self.stdin, 'files': self.files, 'lang': self.lang}
        if self.env:
            meta['env'] = self.env
        head = ''.join('#@ %s: %s\n' % (k, json.dumps(v)) for k, v in meta.items())
        return head + '#@ script\n' + self.script

    @staticmethod
    def from_text(text):
        case = Case(None)
        lines = text.split('\n')
        for i, line in enumerate(lines):
            if line == '#@ script':
                case.script = '\n'.join(lines[i + 1:])
                return case
            m = re.match(r'#@ (\w+): (.*)$', line)
            if not m:
                raise ValueError('bad case header line: %r' % line)
            setattr(case, m.group(1), json.loads(m.group(2)))
        raise ValueError('case without a script section')

    def copy(self):
        return Case.from_text(self.to_text())


class Gen:
    """Builds one script. `r` is the only source of randomness."""

    def __init__(self, r, mode):
        self.r = r
        self.mode = mode
        self.labels_pending = []  # labels jumped to but not yet placed
        self.label_count = 0
        self.loop_depth = 0
        self.counter = 0
        self.lines = []
        self.protected = set()  # indexes of lines noise must not touch (loop counters)
        self.aliases = []
        # History substitution can bring a `while` line back where its counter is not raised,
        # so a script with history lines has only `foreach` loops.
        self.use_history = mode == 'ipipe' and r.random() < 0.5 or r.random() < 0.1

    # ---- words ----
    def choice(self, seq):
        return self.r.choice(seq)

    def chance(self, p):
        return self.r.random() < p

    def var(self):
        return self.choice(VARS)

    def dollar(self):
        """Every `$` form: plain, braces, subscripts, counts, set tests, modifiers, specials."""
        r = self.r
        v = self.var()
        k = r.randrange(26)
        if k == 0:
            return '$' + v
        if k == 1:
            return '${%s}' % v
        if k == 2:
            return '$%s[%s]' % (v, self.choice(('1', '2', '2-', '-2', '*', '1-2', '3-1', '0', '5',
                                                '$n', '0-1', '$#list', '-', '', 'x')))
        if k == 3:
            return '$#' + v
        if k == 4:
            return '$?' + self.choice(VARS + ENV_VARS + ('nosuch', 'HOME', 'noglob', '0'))
        if k == 5:
            return '$%s:%s' % (v, self.choice(MODIFIERS))
        if k == 6:
            return '${%s:%s}' % (v, self.choice(MODIFIERS))
        if k == 7:
            return self.choice(('$0', '$1', '$2', '$*', '$#argv', '$argv[1]', '$argv[2-]',
                                '$?0', '$1:t', '$*:q', '$0:r', '$99999999999'))
        if k == 8 and self.chance(0.5):
            return self.choice(('$$', '$!', '$status', '$?status', '$$:h', '$#', '$#<', '$?*',
                                '${', '$', '${x', '$x[', '$#$', '$?!'))
        if k == 9:
            return '$<' if self.mode != 'ipipe' or self.chance(0.3) else '$status'
        if k == 10:
            return '$' + self.choice(ENV_VARS) + self.choice(('', ':t', '[1]'))
        if k == 11:
            return '$%s:%s:%s' % (v, self.choice(MODIFIERS), self.choice(MODIFIERS))
        if k == 12:
            return '$cwd:t'
        if k == 13:
            return '$%s[$n]' % v
        if k == 14 and self.chance(0.3):
            return '$' + 'v' * r.choice((30, 31, 32, 40))
        return '$' + v

    def plain_word(self):
        return self.choice(LITERALS)

    def word(self, depth=0):
        r = self.r
        k = r.randrange(20)
        if k < 6:
            return self.plain_word()
        if k < 9:
            return self.dollar()
        if k == 9:
            return "'%s'" % self.sentence(2, allow_dollar=True)
        if k == 10:
            return '"%s"' % self.sentence(3, allow_dollar=True)
        if k == 11:
            return self.choice(GLOBS)
        if k == 12 and depth < 2:
            return '`%s`' % self.simple(depth + 1, in_backquote=True)
        if k == 13 and depth < 2:
            return '"`%s`"' % self.simple(depth + 1, in_backquote=True)
        if k == 14:
            return '\\' + self.choice(('$', '*', '"', "'", '`', '\\', 'x', '!', ' ', ';', '|'))
        if k == 15:
            return self.plain_word() + self.dollar() + self.choice(('', 'x', '.c', ':h'))
        if k == 16:
            return '"' + self.dollar() + '"' + self.plain_word()
        if k == 17:
            return self.plain_word() + "'" + self.plain_word() + "'" + self.choice(GLOBS)
        return self.plain_word()

    def sentence(self, n, allow_dollar=False):
        parts = []
        for _ in range(self.r.randrange(n + 1)):
            if allow_dollar and self.chance(0.3):
                parts.append(self.dollar())
            else:
                parts.append(self.choice(LITERALS + (' ', '*', '!', '#', ';', '|', '<', '\\')))
        return ' '.join(parts)

    def words(self, n, depth=0):
        return ' '.join(self.word(depth) for _ in range(self.r.randrange(n + 1)))

    def number(self):
        return self.choice(('0', '1', '2', '3', '7', '-1', '10', '042', '08', '2147483647',
                            '-2147483648', '4294967296', '99999999999', 'x', '$n', '$#list',
                            '$?x', '$status', '1x', '0x10'))

    # ---- expressions ----
    def expr(self, depth=0):
        r = self.r
        if depth > 3 or self.chance(0.35):
            k = r.randrange(9)
            if k < 4:
                return self.number()
            if k == 4:
                return '%s %s' % (self.choice(('-e', '-d', '-f', '-z', '-r', '-w', '-x', '-o',
                                               '-q', '-e')), self.choice(READ_FILES + DIRS))
            if k == 5:
                return '{ %s }' % self.simple(depth + 2)
            if k == 6:
                return '"%s"' % self.sentence(1, allow_dollar=True)
            if k == 7:
                return self.dollar()
            return self.plain_word()
        k = r.randrange(8)
        if k == 0:
            return '( %s )' % self.expr(depth + 1)
        if k == 1:
            return '%s%s' % (self.choice(('!', '~', '-', '! ', '~ ')), self.expr(depth + 1))
        op = self.choice(('+', '-', '*', '/', '%', '<<', '>>', '<', '>', '<=', '>=', '==', '!=',
                          '=~', '!~', '&', '|', '^', '&&', '||'))
        return '%s %s %s' % (self.expr(depth + 1), op, self.expr(depth + 1))

    def cond(self):
        return '( %s )' % self.expr()

    # ---- commands ----
    def redirect(self):
        k = self.r.randrange(14)
        if k == 0:
            return '< ' + self.choice(READ_FILES)
        if k == 1:
            return '>> ' + self.choice(FILES)
        if k == 2:
            return '>! ' + self.choice(FILES)
        if k == 3:
            return '>& ' + self.choice(FILES)
        if k == 4:
            return '>>& ' + self.choice(FILES)
        if k == 5:
            return '> ' + self.choice(('"$s"', '$s', '*.c', '{f1,f2}', 'f?', '~/h.txt'))
        if k == 6:
            return '< ' + self.choice(('*', '$nosuch', '""', 'd1', '`echo f1`'))
        return '> ' + self.choice(FILES)

    def any_program(self, depth):
        r = self.r
        p = self.choice(HARMLESS_PROGRAMS)
        if p == 'sleep':
            return 'sleep ' + self.choice(('0', '0.01', '0.02', '0'))
        if p == 'head':
            return 'head -n %d' % r.randrange(3) + self.maybe(' ' + self.choice(READ_FILES))
        if p == 'tr':
            return 'tr ' + self.choice(('a-z A-Z', 'o 0', '-d a', "'\\n' ' '"))
        if p == 'expr':
            return 'expr %s %s %s' % (self.number(), self.choice(('+', '\\*', '-', '/', '%')),
                                      self.number())
        if p == 'test':
            return 'test %s %s' % (self.choice(('-f', '-d', '-n', '-z')), self.word(depth))
        if p == 'printf':
            return 'printf %s %s' % (self.choice(("'%s\\n'", "'%d|%5s|\\n'", "'%c%x\\n'", '%s',
                                                  "'%*d|'", "'%b\\n'")), self.words(3, depth))
        if p == 'wc':
            return 'wc %s%s' % (self.choice(('-l', '-c', '-w')),
                                self.maybe(' ' + self.choice(READ_FILES)))
        if p in ('cat', 'sort'):
            return p + self.maybe(' ' + self.choice(READ_FILES), 0.8)
        return p + ' ' + self.words(3, depth)

    def program(self, depth):
        cmd = self.any_program(depth)
        # When the script comes on standard input, a program reading it would eat the script.
        if self.mode in ('stdin', 'pipe', 'ipipe') and self.chance(0.97):
            words = cmd.split()
            if words[0] in ('cat', 'sort') and len(words) == 1:
                cmd += ' ' + self.choice(READ_FILES[:5])
            elif words[0] in ('head', 'wc') and len(words) <= 3:
                cmd += ' ' + self.choice(READ_FILES[:5])
            elif words[0] == 'tr':
                cmd = 'echo abc | ' + cmd
        return cmd

    def maybe(self, text, p=0.5):
        return text if self.chance(p) else ''

    def builtin(self, depth):
        r = self.r
        k = r.randrange(40)
        if k < 6:
            return 'echo ' + self.choice(('', '-n ')) + self.words(4, depth)
        if k < 9:
            return self.set_cmd(depth)
        if k < 11:
            return self.at_cmd()
        if k == 11:
            return 'unset ' + ' '.join(self.r.sample(VARS + ('noglob', 'nonomatch', 'noclobber',
                                                             'nosuch'), r.randrange(1, 3)))
        if k == 12:
            return 'setenv %s %s' % (self.choice(ENV_VARS), self.word(depth))
        if k == 13:
            return 'unsetenv ' + self.choice(ENV_VARS + ('NOSUCH',))
        if k == 14:
            return 'glob ' + self.words(3, depth)
        if k == 15:
            return 'printf ' + self.choice(("'%s|%s\\n'", "'%d\\n'", "'%5.2s|%-3d|%%\\n'", "'%c'",
                                            "'%i %o %X\\n'", "'%q'", "'\\0101\\n'",
                                            "'%*d|'", "'%.*s|'")) + ' ' + self.words(3, depth)
        if k == 16:
            return 'shift' + self.maybe(' ' + self.choice(('argv', 'list', 'x', 'nosuch')))
        if k == 17:
            return self.choice(('which echo', 'which nosuch', 'which cat sort', 'hashstat',
                                'rehash', 'unhash', 'alloc', 'limit', 'limit cputime',
                                'umask', 'umask 022', 'umask 9', 'dirs', 'dirs -l', 'jobs',
                                'jobs -l', 'history', 'history 3', 'history -r', 'history -h 2',
                                'notify', 'wait', 'time', 'onintr', 'onintr -'))
        if k == 18:
            return self.alias_cmd(depth)
        if k == 19:
            return self.eval_cmd(depth)
        if k == 20:
            return self.choice(('cd', 'cd ~', 'cd d1', 'cd d1/d2', 'chdir d1', 'cd nodir',
                                'cd f1', 'pushd d1', 'pushd', 'popd', 'popd +1', 'pushd +1',
                                'cd =1', 'pushd ~'))
        if k == 21:
            return 'source ' + self.choice(('inc.orv', 'nosuch', 'inc.orv foo', '-h inc.orv'))
        if k == 22:
            return 'time ' + self.simple(depth + 1)
        if k == 23:
            return 'nohup ' + self.simple(depth + 1)
        if k == 24:
            return 'nice ' + self.choice(('', '+5 ', '+1 ')) + self.simple(depth + 1)
        if k == 25:
            return 'repeat %s %s' % (self.choice(('0', '1', '2', '3', 'x', '-1')),
                                     self.simple(depth + 1))
        if k == 26:
            return 'if %s %s' % (self.cond(), self.simple(depth + 1))
        if k == 27 and self.chance(0.3):
            return self.choice(('exit', 'exit 3', 'exit ( 1 + 1 )', 'exit $status', 'exit x'))
        if k == 28:
            return 'kill ' + self.choice(SIGNALS) + self.choice(('%1', '%2', '%+', '%-', '%%',
                                                                 '%sleep', '%?s')) \
                if self.chance(0.8) else 'kill -l'
        if k == 29 and self.chance(0.4):
            return self.choice(('%1', '%+', '%1 &', 'fg', 'bg', 'fg %1', 'bg %2', 'wait', 'jobs'))
        if k == 30:
            return self.choice(('linedit ', 'echo ')) + self.words(2, depth)
        if k == 31:
            return 'set %s' % self.choice(('noglob', 'nonomatch', 'noclobber', 'echo',
                                           'verbose', 'history = 5', 'savehist = 3',
                                           'histchars = "#:"', 'histchars = ""',
                                           'printexitvalue', 'notify', 'ignoreeof',
                                           'noambiguous', 'time = 0', 'prompt = "> "',
                                           'cdpath = ( d1 )', 'fignore = .c', 'filec',
                                           'listjobs', 'listjobs = long'))
        if k == 32:
            return 'unalias ' + self.choice(tuple(self.aliases) + ('nosuch', '*'))
        if k == 33:
            return self.choice(('case x:', 'default:', 'endif', 'endsw', 'end', 'else',
                                'break', 'breaksw', 'continue', 'then', 'label:'))
        if k == 34:
            return 'setenv'
        if k == 35:
            return 'set'
        if k == 36:
            return 'alias'
        return 'echo ' + self.words(3, depth)

    def set_cmd(self, depth):
        r = self.r
        v = self.var()
        k = r.randrange(9)
        if k == 0:
            return 'set %s = %s' % (v, self.word(depth))
        if k == 1:
            return 'set %s = ( %s )' % (v, self.words(5, depth))
        if k == 2:
            return 'set %s[%s] = %s' % (v, self.choice(('1', '2', '0', '9', '$n')),
                                        self.word(depth))
        if k == 3:
            return 'set %s' % v
        if k == 4:
            return 'set %s = ( %s ) %s = %s' % (v, self.words(3, depth), self.var(),
                                                self.word(depth))
        if k == 5:
            return 'set %s=%s' % (v, self.plain_word())
        if k == 6:
            return 'set %s = "%s"' % (v, self.sentence(3, allow_dollar=True))
        if k == 7:
            return 'set %s = `%s`' % (v, self.simple(depth + 1, in_backquote=True))
        return 'set list = ( a b c d e )'

    def at_cmd(self):
        v = self.var()
        k = self.r.randrange(7)
        if k == 0:
            return '@'
        if k == 1:
            return '@ %s++' % v
        if k == 2:
            return '@ %s--' % v
        if k == 3:
            return '@ %s %s %s' % (v, self.choice(('+=', '-=', '*=', '/=', '%=', '^=', '|=', '&=',
                                                   '<<=', '>>=')), self.number())
        if k == 4:
            return '@ %s[%s] = %s' % (v, self.choice(('1', '2', '0')), self.number())
        return '@ %s = %s' % (v, self.expr())

    def alias_cmd(self, depth):
        name = self.choice(('ll', 'e', 'greet', 'q1', 'cat', 'if', 'al'))
        self.aliases.append(name)
        body = self.choice(('echo \\!*', 'echo \\!^ \\!$', 'echo \\!:1', 'echo one; echo two',
                            'set x = \\!*', 'echo \\!:2-', 'printf "%s\\n" \\!*',
                            'echo \\!*:q | tr a-z A-Z', 'echo a | cat', 'if ( 1 ) echo yes',
                            'echo \\!:9', '( echo sub )', 'echo `echo bq`', 'echo a\\!x'))
        if self.chance(0.15):
            body = self.simple(depth + 1)
        return "alias %s '%s'" % (name, body)

    def eval_cmd(self, depth):
        k = self.r.randrange(5)
        if k == 0:
            return "eval '%s'" % self.simple(depth + 1).replace("'", '')
        if k == 1:
            return 'eval "%s"' % self.choice(('echo $x', 'set y = 2; echo $y', 'echo \\$n',
                                              '$s', 'if ( 1 ) echo e'))
        if k == 2:
            return 'eval `echo echo %s`' % self.plain_word()
        if k == 3:
            return 'eval ' + self.words(3, depth)
        return "eval 'set a = ( 1 2 3 ); echo $#a'"

    def simple(self, depth=0, in_backquote=False):
        if depth > 3:
            return 'echo ' + self.plain_word()
        r = self.r
        if r.random() < 0.35:
            cmd = self.program(depth)
        else:
            cmd = self.builtin(depth)
        if in_backquote:
            cmd = cmd.replace('`', '')
        return cmd

    def pipeline(self, depth):
        parts = [self.simple(depth)]
        while self.chance(0.3) and len(parts) < 4:
            parts.append(self.simple(depth))
        if self.chance(0.1):
            parts.insert(0, '( %s )' % self.list_(depth + 1))
        # Mostly where the grammar allows them: input first, output last.
        if self.chance(0.2):
            red = self.redirect()
            if len(parts) == 1 or self.chance(0.1):
                parts[self.r.randrange(len(parts))] += ' ' + red
            elif red.startswith('<'):
                parts[0] += ' ' + red
            else:
                parts[-1] += ' ' + red
        return self.choice((' | ', ' |& ', ' | ')).join(parts)

    def list_(self, depth=0):
        if depth > 3:
            return self.simple(depth)
        parts = [self.pipeline(depth)]
        while self.chance(0.3) and len(parts) < 4:
            parts.append(self.choice(('; ', ' && ', ' || ', ' & ', ';')))
            parts.append(self.pipeline(depth) if self.chance(0.8) else
                         '( %s )' % self.list_(depth + 1))
        if self.chance(0.05):
            parts.append(' &')
        return ''.join(parts)

    # ---- statements (one or more lines) ----
    def emit(self, line, protected=False):
        if protected:
            self.protected.add(len(self.lines))
        self.lines.append(line)

    def statement(self, depth):
        r = self.r
        k = r.randrange(30)
        if depth > 2:
            k = 0
        if k < 12:
            self.emit(self.list_())
        elif k < 14:
            self.if_block(depth)
        elif k < 16 and not self.use_history:
            self.while_block(depth)
        elif k < 16:
            self.foreach_block(depth)
        elif k < 18:
            self.foreach_block(depth)
        elif k < 19:
            self.switch_block(depth)
        elif k < 21:
            self.here_doc()
        elif k == 21:
            self.goto_stmt()
        elif k == 22 and self.use_history:
            self.history_line()
        elif k == 23:
            self.emit('( %s )' % self.list_(1) + self.maybe(' ' + self.redirect(), 0.3))
        elif k == 24:
            self.emit('sleep %s &' % self.choice(('0', '0.01', '0.05')))
            after = self.choice(('jobs', 'wait', 'kill %1', 'echo $!:e', 'kill -9 %1',
                                 'notify %1', '%1', 'stop %1; kill -CONT %1', 'echo $status'))
            self.emit(after, protected=after.startswith('stop'))
        elif k == 25:
            self.emit('onintr ' + self.choice(('-', '', self.new_label())))
        elif k == 26 and self.chance(0.1):
            # Recursion the input controls: the shell must bound it.
            self.emit(self.choice(("alias r 'eval r'\nr", 'alias r r\nr', "alias r 'r x'\nr",
                                   "alias a1 'a2'\nalias a2 'a1'\na1",
                                   'echo source rec.orv > rec.orv\nsource rec.orv',
                                   "eval 'eval \"eval echo deep\"'")))
        else:
            self.emit(self.list_())

    def new_label(self):
        self.label_count += 1
        name = 'L%d' % self.label_count
        self.labels_pending.append(name)
        return name

    def goto_stmt(self):
        self.emit('goto ' + self.new_label())

    def place_labels(self):
        while self.labels_pending and self.chance(0.5):
            self.emit(self.labels_pending.pop(0) + ':')

    def block(self, depth, n=3):
        for _ in range(self.r.randrange(1, n + 1)):
            self.statement(depth + 1)

    def if_block(self, depth):
        self.emit('if %s then' % self.cond())
        self.block(depth)
        while self.chance(0.3):
            self.emit('else if %s then' % self.cond())
            self.block(depth)
        if self.chance(0.5):
            self.emit('else')
            self.block(depth)
        self.emit(self.choice(('endif', 'endif', 'endif', 'endif ', 'endif # done')))

    def loop_extra(self):
        """break or continue, sometimes guarded."""
        if self.chance(0.3):
            w = self.choice(('break', 'continue'))
            if self.chance(0.5):
                w = 'if %s %s' % (self.cond(), w)
            self.emit(w)

    def while_block(self, depth):
        self.counter += 1
        c = '_i%d' % self.counter
        self.emit('@ %s = 0' % c, protected=True)
        self.emit('while ( $%s < %d )' % (c, self.r.randrange(0, 4)), protected=True)
        self.emit('@ %s++' % c, protected=True)
        self.loop_depth += 1
        self.block(depth)
        self.loop_extra()
        self.loop_depth -= 1
        self.emit('end', protected=True)

    def foreach_block(self, depth):
        v = self.choice(('i', 'j', 'f', 'x'))
        src = self.choice(('( a b c )', '( * )', '( $list )', '( `echo 1 2` )', '( )',
                           '( $argv )', '( "a b" c )', '( {x,y} )', '( $list:q )'))
        self.emit('foreach %s %s' % (v, src), protected=True)
        self.loop_depth += 1
        self.block(depth)
        self.loop_extra()
        self.loop_depth -= 1
        self.emit('end', protected=True)

    def switch_block(self, depth):
        self.emit('switch ( %s )' % self.choice(('$s', '"$x"', 'abc', '$1', 'foo.c', '`echo b`',
                                                 '$list', '')))
        for _ in range(self.r.randrange(1, 4)):
            self.emit('case %s:' % self.choice(('a*', 'foo', '*.c', '[a-c]*', '?', 'b', '{x,y}',
                                                '^a', '[', '*', '$x', 'ab\\*')))
            self.block(depth, 2)
            if self.chance(0.7):
                self.emit('breaksw')
        if self.chance(0.5):
            self.emit('default:')
            self.block(depth, 1)
        self.emit('endsw')

    def here_doc(self):
        term = self.choice(('EOF', 'E', 'END'))
        quoted = self.choice(('', "'", '\\', '"'))
        if quoted == '\\':
            spec = '\\' + term
        elif quoted:
            spec = quoted + term + quoted
        else:
            spec = term
        cmd = self.choice(('cat', 'wc -l', 'sort', 'tr a-z A-Z', 'cat > out', 'head -n 1',
                           'set x = `cat`', 'echo ignored'))
        self.emit('%s << %s%s' % (cmd, spec, self.choice(('', '', ' | wc -c', ' > out2',
                                                          ' &'))))
        for _ in range(self.r.randrange(0, 5)):
            if self.chance(0.05):
                self.emit(self.choice(('L' * 1021, '`echo ' + 'w' * 1019 + '`',
                                       '$x:s/a/' + 'b' * 1010 + '/', 'M' * 1019)))
                continue
            self.emit(self.choice(('plain line', '$x $n', '\\$x \\` \\\\', '`echo bq`', '',
                                   '$list[2] and ${s}', 'tab\there', '"quoted $y"',
                                   "'single'", '`echo a; echo b`', '$undefined_zz',
                                   '$#list $?x', term + ' ', ' ' + term, '$')))
        if self.chance(0.92):
            self.emit(spec if self.chance(0.9) else term)  # the word as written ends it

    def history_line(self):
        self.emit(self.choice(('!!', '!-1', '!-2', '!$', '!^', '!*', '!e', '!ec', '!?fo?',
                               '!!:s/o/0/', '!!:gs/a/A/', '^o^0', '^x', '!:p', '!-9',
                               'echo !!:1', '!!:h', '!#', '!zz', '!{e}', '!!:q', 'echo !$:t')))

    def prologue(self):
        """Most variables the script uses are set first, so that it gets past its first lines."""
        for line in ('set a = foo', 'set b = ( a/b/k.d e/f )', 'set x = abc', 'set y = "p q"',
                     'set list = ( a b c d e )', 'set n = 2', 'set s = foo.c',
                     'set w = ( 1 2 3 )', 'set v1 = x.y', 'setenv E1 env1', 'set nonomatch'):
            if self.chance(0.9 if line != 'set nonomatch' else 0.3):
                self.emit(line, protected=True)

    def script(self, nstatements):
        if self.chance(0.85):
            self.prologue()
        for _ in range(nstatements):
            self.statement(0)
            self.place_labels()
        for name in self.labels_pending:
            self.emit(name + ':')
        self.labels_pending = []
        return self.lines


# ---- noise ----
NOISE_TOKENS = (';', '|', '&', '(', ')', '<', '>', '>>', '<<', '`', "'", '"', '\\', '$', '{',
                '}', '[', ']', '!', '^', '#', '&&', '||', '@', ':', '=', '~', '*', '?', '%1',
                'then', 'endif', 'end', 'else', 'endsw', '$x[', '${', '$#', 'if', 'while',
                'foreach', 'switch', 'eval', 'alias', '\x01', '\u00e9', '\xff')


def add_noise(r, lines, protected):
    """Token-level mutations on unprotected lines; letters are never recombined into new words."""
    lines = list(lines)
    for _ in range(r.randrange(1, 4)):
        free = [i for i in range(len(lines)) if i not in protected]
        if not free:
            break
        i = r.choice(free)
        toks = lines[i].split(' ')
        k = r.randrange(9)
        if k == 0 and len(toks) > 1:
            del toks[r.randrange(len(toks))]
        elif k == 1:
            j = r.randrange(len(toks))
            toks.insert(j, toks[j])
        elif k == 2:
            toks.insert(r.randrange(len(toks) + 1), r.choice(NOISE_TOKENS))
        elif k == 3:
            j = r.randrange(len(toks))
            toks[j] = toks[j] + r.choice(NOISE_TOKENS)
        elif k == 4:
            toks.append('x' * r.choice((1019, 1020, 1100, 2100)))
        elif k == 5:
            d = r.choice((30, 200, 600))
            toks.append('(' * d + ' echo deep ' + ')' * d)
        elif k == 6:
            toks = toks[:r.randrange(len(toks) + 1)]
        elif k == 7:
            toks.append('"' + 'y' * 1030 + '"')
        else:
            toks.append(r.choice(('$x:s/%s/b/' % ('a' * 1100), '${' + 'v' * 200 + '}',
                                  '$x[' + '1' * 130 + ']', '!' * 5, '\\' * 7)))
        line = ' '.join(toks)
        if line.endswith('\\') and (i + 1) in protected:
            line += ' '  # never join a loop counter line to this one
        lines[i] = line
    if r.random() < 0.1:
        cut = r.randrange(len(lines) + 1)
        lines = lines[:cut] + [''] if cut < len(lines) else lines
    return lines


# ---- safety ----
_FORBIDDEN_WORDS = re.compile(r'(?<![\w$.-])(exec|login|logout|suspend|unlimit)(?![\w.-])')
_KILL = re.compile(r'(?<![\w$.-])kill(?![\w.-])([^;&|\n)`]*)')
_KILL_ARGS = re.compile(r'^(\s+(-[0-9]+|-[A-Z]+))*\s+(-l|%[0-9+%?-]?[a-z?]*)'
                        r'(\s+%[0-9+%?-]?[a-z?]*)*\s*$')
_CD = re.compile(r'(?<![\w$.-])(cd|chdir|pushd)(?![\w.-])([^;&|\n)`]*)')
_CD_ARG = re.compile(r'^(~|~/[\w./]*|[a-z][\w]*(/[\w]+)*|\+[0-9]|=[0-9]|nosuch\w*)$')
_LIMIT = re.compile(r'(?<![\w$.-])limit(?![\w.-])([^;&|\n)`]*)')
_NICE = re.compile(r'(?<![\w$.-])nice\s+-')
_ABS = re.compile(r'(^|[\s\'"`(=;|&<>{,])/[^\s]')
_PATHVAR = re.compile(r'(?<![\w$.])(path|PATH|shell|histfile)(?![\w.])|'
                      r'(set|setenv|unset|unsetenv|@)\s+(home|HOME)\b')


def check_safe(text):
    """None when the text is safe to run as root in the scratch directory, else the reason."""
    if '..' in text:
        return '..'
    m = _FORBIDDEN_WORDS.search(text)
    if m:
        return m.group(1)
    if _ABS.search(text):
        return 'absolute path'
    if _NICE.search(text):
        return 'negative nice'
    if re.search(r'~[A-Za-z_]', text.replace('~nosuchuser_q', '')):
        return '~user'
    for m in _KILL.finditer(text):
        if not _KILL_ARGS.match(m.group(1)):
            return 'kill %r' % m.group(1)
    for m in _CD.finditer(text):
        if any(not _CD_ARG.match(a) for a in m.group(2).split()):
            return 'cd %r' % m.group(2)
    for m in _LIMIT.finditer(text):
        if len(m.group(1).split()) > 1:
            return 'limit with a value'
    if _PATHVAR.search(text):
        return 'path variable'
    return None


def inc_file(r):
    g = Gen(r, 'script')
    return '\n'.join(g.script(r.randrange(1, 4))) + '\n'


def generate(seed, noise=None):
    """The case for a seed. Deterministic: the same seed always gives the same case."""
    for attempt in range(50):
        r = random.Random('%s/%d' % (seed, attempt))
        mode = r.choice(MODES + ('script', 'ipipe', 'ipipe'))
        g = Gen(r, mode)
        lines = g.script(r.randrange(2, 14))
        use_noise = noise if noise is not None else r.random() < 0.3
        if use_noise:
            lines = add_noise(r, lines, g.protected)
        script = '\n'.join(lines)
        if r.random() < 0.95:
            script += '\n'
        options = []
        if r.random() < 0.6:
            options.append('-f')
        for opt in ('-e', '-n', '-v', '-x', '-q', '-V', '-X'):
            if r.random() < 0.04:
                options.append(opt)
        files = {'inc.orv': inc_file(r)}
        if '-f' not in options and r.random() < 0.5:
            files['home/.orvrc'] = inc_file(r)
        if r.random() < 0.2:
            files['home/.history'] = '\n'.join(Gen(r, 'ipipe').script(3)) + r.choice((
                '\n', '', '\n' + 'h' * 2000 + '\n', '\n\\\n', '\nM-CM-) caf\u00e9 ^A\n'))
        stdin = ''
        if mode in ('script', 'c') and r.random() < 0.5:
            stdin = r.choice(('line one\nline two\n', 'line one\nline two\n', 'no newline',
                              'z' * 1030 + '\n', '\n\n', '*\n$x\n`echo q`\n'))
        env = {}
        if r.random() < 0.1:
            # Start-up must survive odd surroundings: every PATH entry stays inside the scratch
            # directory (relative), and the programs come from the first one.
            key, value = r.choice((('PATH+', 'x*'), ('PATH+', '{'), ('PATH+', '~nosuchuser_q'),
                                   ('PATH+', '`echo d1`'), ('PATH+', '~'), ('PATH+', ''),
                                   ('PATH+', 'd1:d1:d1'), ('PATH+', '[a'), ('HOME', None),
                                   ('HOME', 'h' * 1030), ('USER', None),
                                   ('TERM', None), ('FOO', '$x`x'), ('LANG', 'xx_YY.nosuch')))
            env[key] = value
        case = Case(seed, mode, options, r.choice(((), ('a1',), ('x y', 'b.txt', '*'))), stdin,
                    files, script, r.choice(('C', 'C', 'C.UTF-8')), env)
        texts = list(case.files.values()) + [case.stdin] + [v for v in env.values() if v]
        bad = check_safe(case.script) or next((check_safe(t) for t in texts if check_safe(t)),
                                              None)
        if bad is None:
            return case
    raise RuntimeError('no safe case for seed %s' % seed)


# Texts the safety check must refuse, whatever the generator or its noise ever writes.
UNSAFE_SAMPLES = ('kill -9 -1', 'kill 0', 'kill $$', 'kill', "alias k 'kill -9'", 'cd ..',
                  'cd /', 'echo x > /etc/passwd', 'cat ~root/x', 'exec true', 'logout',
                  'login', 'suspend', 'limit filesize 1', 'unlimit', 'nice -5 true',
                  'set path = ( /bin )', 'setenv PATH /usr/sbin', 'set home = x',
                  'echo `/bin/rm -rf x`', "eval '/bin/sh'", 'source ../x', 'pushd /tmp',
                  'set shell = x', 'set histfile = x')


def self_check():
    """The generator is reproducible and its safety check refuses what it must."""
    for seed in (1, 2, 3):
        assert generate(seed).to_text() == generate(seed).to_text(), seed
        again = Case.from_text(generate(seed).to_text())
        assert again.to_text() == generate(seed).to_text(), seed
    for text in UNSAFE_SAMPLES:
        assert check_safe(text), text
    for text in ('kill %1', 'kill -9 %1 %2', 'kill -l', 'cd', 'cd d1/d2', 'pushd ~',
                 '@ x = 6 / 2', 'echo $x:s/a/b/', 'limit', 'nice +5 echo'):
        assert check_safe(text) is None, text


def main():
    if sys.argv[1:] == ['--check']:
        self_check()
        print('gen_scripts: self-check passed')
        return
    seed = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    for s in range(seed, seed + count):
        sys.stdout.write(generate(s).to_text())
        sys.stdout.write('\n#@ ----\n')


if __name__ == '__main__':
    main()
