"""The shell at a real terminal: prompts, end of file, job control and interrupts."""

from ptyshell import Shell, config


def test_ignoreeof_refuses_end_of_file_until_the_26th():
    sh = Shell()
    sh.sendline('set ignoreeof')
    sh.expect_prompt()
    sh.sendcontrol('d')
    sh.expect_exact('Use "exit" to leave orv.')
    sh.expect_prompt(same=True)
    sh.sendline('echo still here')
    sh.expect_exact('still here')
    sh.expect_prompt()
    for _ in range(25):
        sh.sendcontrol('d')
        sh.expect_exact('Use "exit" to leave orv.')
    sh.sendcontrol('d')  # the 26th in a row ends the shell
    sh.expect_exact('exit')
    sh.expect_eof()
    assert sh.exit_status() == 0


def test_end_of_file_says_exit_with_the_status():
    sh = Shell()
    sh.sendline('sh -c "exit 3"')
    sh.expect_prompt()
    sh.sendcontrol('d')
    sh.expect_exact('exit')
    sh.expect_eof()
    assert sh.exit_status() == 3


def test_a_foreground_job_gets_the_terminal_and_the_shell_takes_it_back():
    sh = Shell()
    sh.sendline(config.helper)
    report = dict(m.split('=', 1) for m in
                  sh.expect(r'pid=\d+\r\nppid=\d+\r\npgrp=\d+\r\nsid=\d+\r\ntpgrp=\d+\r\n'
                            ).group(0).split())
    assert report['pgrp'] == report['pid'] == report['tpgrp'], report
    sh.expect_prompt()
    # The shell reads the terminal again: it is the foreground group once more.
    sh.sendline('echo $$')
    shell_pid = sh.expect(r'(\d+)\r\n').group(1)
    sh.expect_prompt()
    with open(f'/proc/{shell_pid}/stat') as f:
        fields = f.read().rpartition(')')[2].split()
    assert fields[2] == fields[5] == shell_pid, fields  # pgrp and terminal group are the shell's


def test_an_interrupt_kills_the_foreground_job_and_returns_to_the_prompt():
    sh = Shell()
    sh.sendline("sh -c 'echo started; exec sleep 30'")
    sh.expect_exact('started\r\n')  # the job's own output: it runs and holds the terminal
    sh.sendcontrol('c')
    sh.expect_prompt()
    sh.sendline('echo status $status')
    sh.expect_exact('status 1')
    sh.expect_prompt()


def test_an_interrupt_during_a_command_substitution_gives_the_prompt_back():
    # The command in backquotes runs in the program's child, or in a child of the shell for a
    # builtin; after the interrupt the shell must be listening again either way.
    sh = Shell()
    for command in ('/bin/echo', 'echo'):
        sh.sendline(command + ' `sh -c "echo napping >&2; exec sleep 30"`')
        sh.expect_exact('napping\r\n')
        sh.sendcontrol('c')
        sh.expect_prompt()
        sh.sendline('echo still listening')
        sh.expect_exact('still listening\r\n')
        sh.expect_prompt()


def test_an_interrupt_at_the_prompt_abandons_the_line():
    sh = Shell()
    sh.send('echo half-typed')
    sh.sendcontrol('c')
    sh.expect_prompt(same=True)
    sh.sendline('echo $status')
    sh.expect_exact('1\r\n')
    sh.expect_prompt()


def test_a_while_loop_typed_at_the_prompt_reads_its_body_after_question_marks():
    sh = Shell()
    sh.sendline('set i = 0')
    sh.expect_prompt()
    sh.sendline('while ( $i < 2 )')
    sh.expect_exact('? ')
    sh.sendline('echo round $i')
    sh.expect_exact('? ')
    sh.sendline('@ i++')
    sh.expect_exact('? ')
    sh.sendline('end')
    sh.expect_exact('round 0')
    sh.expect_exact('round 1')
    sh.expect_prompt()


def test_a_background_job_is_announced_and_reported_done_before_a_prompt():
    sh = Shell()
    sh.sendline('sleep 0.2 &')
    sh.expect(r'\[1\] \d+\r\n')
    sh.expect_prompt()
    sh.sendline('sleep 0.5')
    sh.expect(r'\[1\]  \+ Done                   sleep 0\.2\r\n')


def test_an_interrupt_ends_a_long_set_or_alias_listing():
    import os
    from ptyshell import config as cfg
    count = 30000
    with open(os.path.join(cfg.work, 'many'), 'w') as f:
        for i in range(count):
            f.write(f'set v{i} = {i}\nalias a{i} echo {i}\n')
    sh = Shell()
    sh.sendline('source many')
    sh.expect_prompt(timeout=30)
    for listing, pattern in (('set', r'v\d+\t\d+\r\n'), ('alias', r'a\d+\t\(echo \d+\)\r\n')):
        sh.sendline(listing)
        sh.expect(pattern)  # the listing has begun
        sh.sendcontrol('c')
        sh.expect_prompt(timeout=30)
        # Only what was under way when the interrupt came is left of the listing.
        assert sh.transcript.chunks[-1][1].count('\n') < count // 2
        sh.sendline('echo back')
        sh.expect_exact('back')
        sh.expect_prompt()
