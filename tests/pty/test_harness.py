"""Checks the terminal harness itself: orv_test_helper and bash run directly, no orv involved."""

from ptyshell import Shell, ShellFailure, config


def helper_report(shell):
    """The helper's key=value lines, read up to the end of its output."""
    text = shell.expect_eof()
    return dict(line.split('=', 1) for line in text.splitlines() if '=' in line)


def test_a_program_owns_its_terminal_with_a_clean_signal_state():
    sh = Shell([config.helper])
    report = helper_report(sh)
    assert report['foreground'] == 'yes' and report['tpgrp'] == report['pgrp'], report
    assert [report[f'isatty{fd}'] for fd in (0, 1, 2)] == ['yes'] * 3, report
    # Python ignores SIGPIPE; what the harness starts must not inherit that.
    assert report['blocked'] == 'none' and report['ignored'] == 'none', report
    assert sh.exit_status() == 0


def test_exit_status_reports_exits_and_signal_deaths():
    for options, status in [(['-x', '3'], 3), (['-k', 'TERM'], 128 + 15)]:
        sh = Shell([config.helper, *options])
        sh.expect_eof()
        assert sh.exit_status() == status, options


def test_a_failed_wait_names_the_test_line_and_shows_the_transcript():
    sh = Shell([config.helper, '-w', '10'])
    sh.expect_exact('isatty2=yes')
    sh.sendline('typed-by-the-test')
    try:
        sh.expect_exact('text that never comes', timeout=0.3)
    except ShellFailure as e:
        message, line = str(e), e.__traceback__.tb_lineno
    else:
        raise AssertionError('the wait did not fail')
    assert f'test_harness.py:{line}: sh.expect_exact(' in message, message
    assert 'timed out after 0.3 s' in message, message
    for seen in ('< pid=', '> typed-by-the-test', '< typed-by-the-test'):  # output, sent, echo
        assert seen in message, message


def test_each_prompt_must_carry_a_new_number():
    # bash's \# counts commands, as the event number in the prompt of orv does.
    sh = Shell(['bash', '--norc', '--noprofile'], prompt_command=r"PS1='<\#> '")
    sh.sendline('echo one')
    sh.expect_exact('one')
    sh.expect_prompt()
    sh.sendline('')  # an empty line is no command: the number stays
    sh.expect_prompt(same=True)
    sh.sendline('')
    try:
        sh.expect_prompt()
    except ShellFailure as e:
        assert 'expected a greater number' in str(e), str(e)
    else:
        raise AssertionError('a prompt with the old number was accepted')
