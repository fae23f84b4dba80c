"""The line editor at a real terminal: editing, history recall and search, Tab completion.

The editor draws the line again after most keys, the prompt with it, so a test waits for the
output of a line before it waits for the next prompt: a prompt drawn again while the line was
edited carries the old event number. What the tests check is what the edited line does when it
runs, and where the screen matters, what the editor wrote.
"""

import os
import pwd
import re
import time

import pexpect

from ptyshell import Shell, config
from screen import Screen
from test_completion import make_files, push_refused_env, received, wait_for_input

LEFT, RIGHT, UP, DOWN = '\x1b[D', '\x1b[C', '\x1b[A', '\x1b[B'
HOME, END, DELETE = '\x1b[H', '\x1b[F', '\x1b[3~'
ALT_B, ALT_F, ALT_D, ALT_BACKSPACE = '\x1bb', '\x1bf', '\x1bd', '\x1b\x7f'
BACKSPACE = '\x7f'
LOCALES = ('C', 'C.UTF-8')


def ctrl(c):
    return chr(ord(c) & 0x1f)


def editor_shell(term='xterm', lang='C', env=None):
    """A shell at a capable terminal: the editor is on."""
    return Shell(term=term, env={'LANG': lang, **(env or {})})


def run(sh, keys, output):
    """Types keys (ending the line), waits for the output and the next prompt."""
    sh.send(keys)
    sh.expect_exact(output + '\r\n')
    sh.expect_prompt()


def screen_of(sh):
    """What the terminal shows now."""
    try:
        while True:
            sh.child.read_nonblocking(65536, timeout=0)
    except pexpect.TIMEOUT:
        pass
    return Screen().feed(received(sh))


def wait_for_screen(sh, shows):
    """Waits until shows(screen) is true of what the terminal shows (at most the shell's timeout);
    returns the screen."""
    deadline = time.monotonic() + sh.timeout
    while True:
        wait_for_input(sh)
        screen = screen_of(sh)
        if shows(screen) or time.monotonic() > deadline:
            return screen
        time.sleep(0.02)


def assert_shows(sh, line, cursor):
    """The screen comes to end with the prompt and the line, the cursor at line[cursor]."""
    prompt = f'<{sh.last_event}> '
    expected = Screen().feed(prompt + line).lines()
    before = Screen().feed(prompt + line[:cursor])
    # After a row filled to its last column the cursor stands at the start of the next.
    at = (before.row + 1, 0) if before.pending_wrap else before.cursor()

    def shows(screen):
        rows = screen.lines()
        first = len(rows) - len(expected)
        return rows[first:] == expected and screen.cursor() == (first + at[0], at[1])

    screen = wait_for_screen(sh, shows)
    assert shows(screen), (screen.lines(), screen.cursor(), expected, at)


def test_keys_move_and_edit_in_the_middle_of_the_line():
    sh = editor_shell()
    run(sh, 'echo xhello wor' + ctrl('a') + ALT_F + RIGHT + DELETE + ctrl('e') + 'ld\r',
        'hello world')
    run(sh, 'echo hxllo' + LEFT * 3 + BACKSPACE + 'e' + END + '!\r', 'hello!')
    run(sh, 'echo hlelo' + ctrl('b') * 3 + ctrl('t') + '\r', 'hello')
    run(sh, 'echo ab' + ctrl('t') + '\r', 'ba')  # at the end: the two before the cursor
    run(sh, 'garbage' + ctrl('u') + 'echo fresh\r', 'fresh')
    run(sh, 'echo a /usr/bin' + ctrl('w') + 'b\r', 'a b')
    run(sh, 'echo keep cut' + ALT_B + ctrl('k') + 'x\r', 'keep x')
    run(sh, 'echo one two' + ctrl('a') + ALT_F + ALT_D + '\r', 'two')
    # Kills in a row go back whole; ^Y yanks them where the cursor is.
    run(sh, 'echo two one' + ALT_BACKSPACE + ctrl('a') + ALT_F + ctrl('f') + ctrl('y') + ' \r',
        'one two')
    # What was killed is kept for the lines after.
    sh.send('echo saved text' + ctrl('u') + '\r')
    sh.expect_prompt(same=True)
    run(sh, ctrl('y') + '\r', 'saved text')
    # ^V puts the next key in as it is.
    run(sh, "echo 'a" + ctrl('v') + '\t' + "b'\r", 'a\tb')
    # ^D deletes at the cursor on a line that is not empty.
    run(sh, 'echo abc' + LEFT * 2 + ctrl('d') + '\r', 'ac')


def test_a_long_line_wraps_and_edits_and_the_window_size_is_followed():
    sh = editor_shell()
    words = ' '.join(f'w{i:03d}' for i in range(40))  # 199 columns: three rows of 80
    sh.send('echo ' + words + ctrl('a') + ALT_F + ' first' + ctrl('e') + ' last')
    sh.expect_exact('last')
    line = 'echo first ' + words + ' last'
    at = len(line) - 100
    run(sh, LEFT * 100 + 'X' + '\r', (line[:at] + 'X' + line[at:])[5:])
    # A narrower window while a line is edited: the line is drawn again for it.
    sh.send('echo ' + words)
    sh.expect_exact(words[-4:])
    sh.child.setwinsize(24, 40)
    sh.expect_exact('\x1b[J')
    run(sh, ctrl('a') + ALT_F + ' narrow\r', 'narrow ' + words)


def test_the_screen_shows_a_wrapped_line_as_it_is_edited():
    sh = editor_shell(lang='C.UTF-8')
    letters = ''.join(chr(ord('a') + i % 26) for i in range(150))
    line = 'echo ' + letters
    sh.send(line)
    assert_shows(sh, line, len(line))
    # Two wide characters near the start push the rest along all three rows.
    sh.send(ctrl('a') + ALT_F + ' \u65e5\u672c')
    line = 'echo \u65e5\u672c ' + letters
    assert_shows(sh, line, 7)
    # Deleting in the second row pulls the rest back.
    sh.send(RIGHT * 80 + BACKSPACE * 3 + DELETE)
    cut = 7 + 80 - 3
    line = line[:cut] + line[cut + 4:]
    assert_shows(sh, line, cut)
    # The cursor at the end of a row filled to its last column stands at the next row.
    sh.send(ctrl('e') + BACKSPACE * (len(line) + 4 + 2 - 160))
    line = line[:160 - 4 - 2]
    assert_shows(sh, line, len(line))
    sh.send(ctrl('l'))
    expected = Screen().feed(f'<{sh.last_event}> ' + line).lines()
    assert wait_for_screen(sh, lambda screen: screen.lines() == expected).lines() == expected
    run(sh, '\r', line[5:])
    # A wide character that does not fit at the end of a row goes whole to the next.
    line = 'echo ' + 'a' * 70 + '\u65e5\u672cx'
    sh.send(line + LEFT + LEFT)
    assert_shows(sh, line, len(line) - 2)
    run(sh, '\r', line[5:])


def test_up_and_down_walk_the_history_and_keep_the_line_being_typed():
    sh = editor_shell()
    run(sh, 'echo first\r', 'first')
    run(sh, 'echo second\r', 'second')
    run(sh, UP + UP + '\r', 'first')
    run(sh, ctrl('p') + ctrl('p') + ctrl('n') + '\r', 'first')
    sh.send('echo kept' + UP)
    sh.expect_exact('echo first')
    run(sh, DOWN + '\r', 'kept')
    # A recalled line is edited before it runs, and ! still works on what ran, with its echo.
    run(sh, UP + ' there\r', 'kept there')
    sh.send('!e\r')
    sh.expect_exact('echo kept there\r\n')  # the substituted line, as before
    sh.expect_exact('kept there\r\n')
    sh.expect_prompt()
    sh.sendline('history')
    sh.expect(r'\d+\techo kept there\r\n *\d+\techo kept there\r\n *\d+\thistory\r\n')
    sh.expect_prompt()


def test_a_recalled_line_runs_as_its_event_did():
    make_files('rec1', 'rec2')
    sh = editor_shell()
    # A quoted history character, and words quoted by a modifier, keep their quoting.
    for typed, output in (("echo 'a\\!b' c\\!d\r", 'a!b c!d'), ('echo rec*\r', 'rec1 rec2'),
                          ('echo !$:q "!$:q"\r', 'rec* rec*')):
        sh.send(typed)
        sh.expect_exact(output + '\r\n')
        sh.expect_prompt()
        run(sh, UP + '\r', output)


def test_control_r_and_control_s_search_the_history():
    sh = editor_shell()
    for word in ('alpha', 'beta', 'gamma'):
        run(sh, f'echo {word}\r', word)
    run(sh, ctrl('r') + 'alp\r', 'alpha')
    sh.send(ctrl('r') + 'echo')
    sh.expect_exact("(reverse-i-search)'echo': echo alpha")  # the last line run first
    sh.send(ctrl('r'))
    sh.expect_exact("(reverse-i-search)'echo': echo gamma")
    sh.send(ctrl('s'))
    sh.expect_exact("(i-search)'echo': echo alpha")
    run(sh, ctrl('e') + ' again\r', 'alpha again')  # a key that edits ends the search
    sh.send('echo typed' + ctrl('r') + 'nothing-like-it')
    sh.expect_exact("(failed reverse-i-search)'nothing-like-it'")
    sh.send(BACKSPACE)  # still no match
    sh.expect_exact("(failed reverse-i-search)'nothing-like-i'")
    run(sh, ctrl('g') + '\r', 'typed')  # ^G gives back the line as it was


def test_tab_completes_files_directories_commands_variables_and_users():
    make_files('unique.txt', 'subdir/', 'my file', 'abc1', 'abc2', 'sp$cial!')
    sh = editor_shell()
    run(sh, 'echo uni\t\r', 'unique.txt')
    run(sh, 'echo subd\t\r', 'subdir/')  # a directory: "/" and no blank
    run(sh, 'echo my\t\r', 'my file')    # quoted: my\ file
    sh.send('echo my\t')
    sh.expect_exact('my\\ file ')
    run(sh, '\r', 'my file')
    run(sh, 'echo "my\t\r', 'my file')   # inside quotes: completed and closed
    run(sh, 'echo sp\t\r', 'sp$cial!')
    run(sh, 'ech\tdone\r', 'done')       # a builtin
    run(sh, 'whoam\t\r', pwd.getpwuid(os.getuid()).pw_name)  # a program along path
    sh.sendline('alias zzcmd echo aliased')
    sh.expect_prompt()
    run(sh, 'zzc\t\r', 'aliased')
    run(sh, 'echo $HO\t\r', config.home)
    run(sh, 'echo "$HO\t/x"\r', config.home + '/x')  # inside quotes no blank is added
    run(sh, 'echo ~roo\t\r', pwd.getpwnam('root').pw_dir + '/')


def test_an_ambiguous_word_rings_then_a_second_tab_lists():
    make_files('abc1', 'abc2', 'abd/')
    sh = editor_shell()
    start = len(received(sh))
    sh.send('echo ab\t')
    sh.expect_exact('\a')
    sh.send('c\t')
    sh.expect_exact('\a')
    sh.send('\t')
    sh.expect(r'\r\nabc1  abc2 *\r+\n')
    sh.expect_exact('echo abc')  # the line drawn again below the listing
    run(sh, '2\r', 'abc2')
    # ^D at the end of a line lists too, with the type of each name.
    sh.send('echo ab' + ctrl('d'))
    sh.expect(r'\r\nabc1  abc2  abd/ *\r+\n')
    run(sh, 'd\t\r', 'abd/')
    # nobeep silences the bell.
    sh.sendline('set nobeep')
    sh.expect_prompt()
    mark = len(received(sh))
    run(sh, 'echo zz\t' + BACKSPACE * 2 + 'ab\t\r', 'ab')
    assert '\a' not in received(sh)[mark:]
    assert '\a' in received(sh)[start:mark]


def test_fignore_and_filec_escape_with_the_editor():
    make_files('x.txt', 'x.bak')
    sh = editor_shell()
    sh.sendline('set fignore = ( .bak )')
    sh.expect_prompt()
    run(sh, 'echo x\t\r', 'x.txt')
    run(sh, 'echo x.b\t\r', 'x.bak')  # what fignore passes over is still offered alone
    run(sh, 'echo x\x1b\x1b\r', 'x.txt')  # Escape Escape completes
    sh.send('echo x\x1b')
    time.sleep(0.3)  # at a person's pace: the first escape is a key of its own
    sh.send('\x1b')
    sh.expect_exact('x.txt')
    run(sh, '\r', 'x.txt')
    sh.sendline('set filec')
    sh.expect_prompt()
    sh.send('echo x\x1b')  # a lone escape too, with filec
    sh.expect_exact('x.txt ')
    run(sh, '\r', 'x.txt')


def test_multibyte_names_and_characters_in_both_locales():
    make_files('caf\u00e9.txt', '\u65e5\u672c/')
    for lang in LOCALES:
        sh = editor_shell(lang=lang)
        run(sh, 'echo caf\t\r', 'caf\u00e9.txt')
        run(sh, 'echo \u65e5\t\r', '\u65e5\u672c/')
        if lang == 'C.UTF-8':
            # A character of two bytes, and a wide one, move and go as one.
            run(sh, 'echo a\u00e9b' + LEFT + BACKSPACE + '\r', 'ab')
            run(sh, 'echo \u65e5x\u672c' + LEFT + LEFT + BACKSPACE + '\r', 'x\u672c')
            sh.send('echo \u65e5\u672c' + LEFT + LEFT)
            sh.expect_exact('\x1b[2D\x1b[2D')  # a wide character: two columns back
            run(sh, ctrl('e') + '\r', '\u65e5\u672c')
        else:
            # In C each byte is a character of its own, shown in the visible form.
            sh.send('echo a\u00e9')
            sh.expect_exact('M-C')
            run(sh, BACKSPACE + BACKSPACE + 'b\r', 'ab')


def test_interrupt_abandons_the_line_and_end_of_file_ends_the_shell():
    sh = editor_shell()
    sh.send('echo half' + LEFT + LEFT)
    sh.sendcontrol('c')
    sh.expect_prompt(same=True)
    run(sh, 'echo next\r', 'next')
    sh.sendline('set ignoreeof')
    sh.expect_prompt()
    sh.sendcontrol('d')
    sh.expect_exact('Use "exit" to leave orv.')
    sh.expect_prompt(same=True)
    sh.sendline('unset ignoreeof')
    sh.expect_prompt()
    sh.send('x' + BACKSPACE)
    sh.sendcontrol('d')  # the line is empty again: end of input
    sh.expect_exact('exit')
    sh.expect_eof()
    assert sh.exit_status() == 0


def test_loop_lines_at_the_question_mark_prompt_are_edited():
    sh = editor_shell()
    sh.sendline('foreach i ( a b )')
    sh.expect_exact('? ')
    sh.send('echo x$j' + BACKSPACE + 'i' + ctrl('a') + ctrl('d') + 'e\r')
    sh.expect_exact('? ')
    sh.send('end\r')
    sh.expect_exact('xa\r\nxb\r\n')
    sh.expect_prompt()
    # A here document's lines too.
    sh.send('cat << EOF\r')
    sh.send('hxllo' + LEFT * 3 + BACKSPACE + 'e\rEOF\r')
    sh.expect_exact('hello\r\n')
    sh.expect_prompt()


def test_a_job_notice_comes_above_the_line_being_edited():
    sh = editor_shell()
    sh.sendline('set notify')
    sh.expect_prompt()
    sh.sendline("sh -c 'while [ ! -e go ]; do sleep 0.05; done' &")
    sh.expect(r'\[1\] \d+')
    sh.expect_prompt()
    sh.send('echo typed')
    sh.expect_exact('typed')
    open(os.path.join(config.work, 'go'), 'w').close()
    sh.expect(r'\[1\] +Done +sh -c')
    sh.expect_exact('echo typed')  # drawn again below the notice
    rows = wait_for_screen(sh, lambda screen: 'Done' in ''.join(screen.lines()[-2:])).lines()
    assert re.match(r'\[1\] +Done +sh -c', rows[-2]) and rows[-1] == f'<{sh.last_event}> echo typed'
    run(sh, '\r', 'typed')


def test_a_program_that_leaves_the_terminal_raw_does_not_leave_the_prompt_dead():
    sh = editor_shell()
    sh.sendline('stty raw -echo')
    sh.expect_prompt()
    run(sh, 'echo still here\r', 'still here')
    # The next command finds the terminal as the user's programs expect it.
    sh.sendline('stty -a')
    out = sh.expect(r'(?s)speed.*?<\d+> ')
    text = out.group(0)
    assert re.search(r'(?<![-\w])icanon\b', text) and re.search(r'(?<![-\w])echo\b', text), text
    assert '\r\n' in text


def test_keys_typed_while_a_command_runs_come_into_the_next_line():
    sh = editor_shell()
    sh.sendline("sh -c 'echo waiting; while [ ! -e go ]; do sleep 0.05; done'")
    sh.expect_exact('waiting\r\n')
    sh.send('echo ahead\r')
    sh.expect_exact('echo ahead')  # the terminal's own echo, while the command runs
    open(os.path.join(config.work, 'go'), 'w').close()
    sh.expect_exact('ahead\r\n')
    sh.expect_prompt()


def test_unset_edit_and_dumb_terminals_read_lines_as_before():
    home_rc = os.path.join(config.home, '.orvrc')
    sh = editor_shell()
    run(sh, 'echo $?edit $history\r', '1 1000')
    sh.sendline('unset edit')
    sh.expect_prompt()
    sh.sendline('echo ab' + LEFT)  # the terminal's own line: the sequence goes in the word
    sh.expect_exact('ab\x1b[D\r\n')
    sh.expect_prompt()
    sh.sendline(UP)
    sh.expect_exact('[A: Command not found.')
    sh.expect_prompt()
    dumb = Shell(term='dumb')
    dumb.sendline('echo $?edit $?history')
    dumb.expect_exact('0 0\r\n')
    dumb.expect_prompt()
    with open(home_rc, 'w') as f:
        f.write('unset edit\nset history = 5\n')
    off = editor_shell()
    off.sendline('echo $?edit $history')
    off.expect_exact('0 5\r\n')
    off.expect_prompt()


def test_screen_keys_and_a_refused_push_change_nothing():
    make_files('unique.txt')
    sh = editor_shell(term='screen', env=push_refused_env())
    with open(f'/proc/{sh.child.pid}/maps') as f:
        assert 'tiocsti_refused.so' in f.read()
    # screen and tmux send Home and End as ESC [ 1 ~ and ESC [ 4 ~.
    run(sh, 'cho x' + '\x1b[1~' + 'e' + '\x1b[4~' + 'y\r', 'xy')
    run(sh, 'echo uni\t\r', 'unique.txt')
    sh.send('echo ab' + ctrl('d'))
    run(sh, ctrl('u') + 'echo after\r', 'after')
