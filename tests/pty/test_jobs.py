"""Job control at a real terminal: stops, the job listings, fg, bg, %job, kill, stop, notify, wait,
the suspended-jobs warning, directories of jobs, time and nice, and the hang-up of a login shell.

State names are the system's descriptions of the signals (signal.strsignal): on Linux SIGTSTP
reads "Stopped", SIGSTOP "Stopped (signal)", SIGTERM "Terminated".
"""

import os
import re
import signal

from ptyshell import PROMPT_COMMAND, Shell, config

TSTP = signal.strsignal(signal.SIGTSTP)
STOP = signal.strsignal(signal.SIGSTOP)
TERM = signal.strsignal(signal.SIGTERM)


def job_line(number, mark, state, text):
    """One line of the jobs listing: number, mark, the state padded to 23 columns, the command."""
    return f'[{number}]{" " if number < 10 else ""} {mark} {state:<23}{text}\r\n'


def start_cat(sh):
    """Runs cat in the foreground and returns once it is reading the terminal."""
    sh.sendline('cat')
    sh.sendline('hello')
    sh.expect_exact('hello\r\nhello\r\n')  # the terminal's echo, then cat's copy


def start_nap(sh, command='sh -c "echo napping; exec sleep 30"'):
    """Runs a sleeping job in the foreground and returns once it holds the terminal."""
    sh.sendline(command)
    sh.expect_exact('napping\r\n')


def stop_foreground(sh):
    """^Z: the shell reports the stop on a line of its own and prompts again."""
    sh.sendcontrol('z')
    sh.expect_exact(f'\r\n{TSTP}\r\n')
    sh.expect_prompt()


def run(sh, line, output=''):
    """Sends a line and expects exactly this output (lines ending in \\r\\n) before the prompt."""
    sh.sendline(line)
    sh.expect_exact(line + '\r\n')
    sh.expect_prompt()
    if sh.child.before != output:
        sh.fail(f'after {line!r}: expected {output!r}, got {sh.child.before!r}')


def resync(sh):
    """After a report that may come before or after a prompt: a fresh prompt to go on from."""
    sh.sendline("echo 'in''sync'")
    sh.expect_exact('insync\r\n')
    sh.expect_prompt()


def test_a_stopped_job_is_listed_and_comes_back_with_fg_and_percent():
    sh = Shell()
    start_cat(sh)
    stop_foreground(sh)
    run(sh, 'jobs', job_line(1, '+', TSTP, 'cat'))
    # With -l: the process id as "%5d " before the state column.
    sh.sendline('jobs -l')
    pid = sh.expect(r'\[1\]  \+ ( *\d+) ' + re.escape(f'{TSTP:<23}cat') + '\r\n').group(1)
    assert len(pid) >= 5, pid
    sh.expect_prompt()

    sh.sendline('fg')
    sh.expect_exact('fg\r\ncat\r\n')  # the command text, then the job runs again
    sh.sendline('again')
    sh.expect_exact('again\r\nagain\r\n')
    stop_foreground(sh)
    sh.sendline('%1')
    sh.expect_exact('%1\r\ncat\r\n')
    sh.sendline('more')
    sh.expect_exact('more\r\nmore\r\n')
    sh.sendcontrol('d')  # cat ends: nothing is reported, the job is gone
    sh.expect_prompt()
    run(sh, 'jobs')
    run(sh, 'echo $status', '0\r\n')


def test_a_program_stopped_during_its_command_substitution_is_a_job_like_any_other():
    # The command in backquotes ignores the stop and waits for the file go.
    sh = Shell()
    sh.sendline('/bin/echo got `sh -c "echo napping >&2; until [ -e go ]; do sleep 0.1; done;'
                ' echo it"`')
    sh.expect_exact('napping\r\n')
    stop_foreground(sh)
    run(sh, 'touch go')
    sh.sendline('fg')
    sh.expect_exact('got it\r\n')
    sh.expect_prompt()


def test_marks_follow_the_last_stopped_job():
    sh = Shell()
    start_cat(sh)
    stop_foreground(sh)
    start_nap(sh)
    stop_foreground(sh)
    nap = 'sh -c echo napping; exec sleep 30'
    run(sh, 'jobs', job_line(1, '-', TSTP, 'cat') + job_line(2, '+', TSTP, nap))
    # %- brings back the previous job; stopping it again makes it the current one.
    sh.sendline('%-')
    sh.expect_exact('%-\r\ncat\r\n')
    sh.sendline('once more')
    sh.expect_exact('once more\r\nonce more\r\n')
    stop_foreground(sh)
    run(sh, 'jobs', job_line(1, '+', TSTP, 'cat') + job_line(2, '-', TSTP, nap))
    run(sh, 'fg %3', 'fg: No such job.\r\n')


def test_bg_and_percent_ampersand_continue_stopped_jobs_in_the_background():
    sh = Shell()
    start_nap(sh)
    stop_foreground(sh)
    start_nap(sh, 'sh -c "echo napping; exec sleep 31"')
    stop_foreground(sh)
    # A job sent to the background gives up its mark: the other job becomes current.
    run(sh, 'bg', '[2]    sh -c echo napping; exec sleep 31 &\r\n')
    run(sh, '%1 &', '[1]    sh -c echo napping; exec sleep 30 &\r\n')
    run(sh, 'jobs', job_line(1, ' ', 'Running ', 'sh -c echo napping; exec sleep 30') +
        job_line(2, '+', 'Running ', 'sh -c echo napping; exec sleep 31'))


def test_stop_kill_and_notify_act_on_a_background_job():
    sh = Shell()
    sh.sendline('sleep 30 &')
    sh.expect(r'\[1\] \d+\r\n')
    sh.expect_prompt()
    # wait returns once the job no longer runs; its stop is reported before the prompt.
    run(sh, 'stop %1; wait', job_line(1, '+', STOP, 'sleep 30'))
    run(sh, 'stop %1', '%1: Already suspended\r\n')
    run(sh, 'echo $status', '1\r\n')
    # kill sends SIGCONT after SIGTERM, so the stopped job ends; notify reports it at once.
    run(sh, 'notify')
    sh.sendline('kill %1')
    sh.expect_exact(job_line(1, ' ', TERM, 'sleep 30'))
    resync(sh)
    run(sh, 'jobs')


def test_an_interrupt_during_wait_lists_the_jobs():
    sh = Shell()
    sh.sendline('sleep 30 &')
    sh.expect(r'\[1\] \d+\r\n')
    sh.expect_prompt()
    # The interrupt comes once the line is read: it is held until wait lets it through.
    sh.sendline('echo waiting; wait')
    sh.expect_exact('waiting\r\n')
    sh.sendcontrol('c')
    sh.expect_exact('\r\n' + job_line(1, '+', 'Running ', 'sleep 30') + 'wait: Interrupted.\r\n')
    sh.expect_prompt()
    run(sh, 'echo $status', '1\r\n')
    run(sh, 'kill -9 %1; wait', job_line(1, ' ', signal.strsignal(signal.SIGKILL), 'sleep 30'))


def test_leaving_with_a_stopped_job_is_refused_once():
    sh = Shell()
    start_cat(sh)
    stop_foreground(sh)
    run(sh, 'exit', '\r\nThere are suspended jobs.\r\n')
    # The warning holds for the next line only; jobs renews it.
    run(sh, 'echo between', 'between\r\n')
    run(sh, 'exit', '\r\nThere are suspended jobs.\r\n')
    run(sh, 'jobs', job_line(1, '+', TSTP, 'cat'))
    sh.sendline('exit')
    sh.expect_eof()
    assert sh.exit_status() == 0

    # The same at the end of the input.
    sh = Shell()
    start_cat(sh)
    stop_foreground(sh)
    sh.sendcontrol('d')
    sh.expect_exact('\r\nThere are suspended jobs.\r\n')
    sh.expect_prompt(same=True)
    sh.sendcontrol('d')
    sh.expect_exact('exit')
    sh.expect_eof()


def test_listjobs_lists_every_job_when_one_stops():
    sh = Shell()
    start_cat(sh)
    stop_foreground(sh)
    run(sh, 'set listjobs')
    start_nap(sh)
    sh.sendcontrol('z')
    nap = 'sh -c echo napping; exec sleep 30'
    sh.expect_exact('\r\n' + job_line(1, '-', TSTP, 'cat') + job_line(2, '+', TSTP, nap))
    sh.expect_prompt()
    run(sh, 'set listjobs = long')
    sh.sendline('%1')
    sh.expect_exact('%1\r\ncat\r\n')
    sh.sendline('x')
    sh.expect_exact('x\r\nx\r\n')
    sh.sendcontrol('z')
    sh.expect(r'\r\n\[1\]  \+ +\d+ ' + re.escape(f'{TSTP:<23}cat') + r'\r\n' +
              r'\[2\]  - +\d+ ' + re.escape(f'{TSTP:<23}{nap}') + r'\r\n')
    sh.expect_prompt()


def test_a_job_started_in_another_directory_shows_it():
    sh = Shell()
    run(sh, 'cd ~')
    start_cat(sh)
    stop_foreground(sh)
    run(sh, f'cd {config.work}')
    sh.sendline('jobs -l')
    sh.expect(r'\[1\]  \+ +\d+ ' + re.escape(f'{TSTP:<23}cat (wd: ~)') + r'\r\n')
    sh.expect_prompt()
    sh.sendline('fg')
    sh.expect_exact('fg\r\ncat (wd: ~)\r\n')
    sh.sendline('y')
    sh.expect_exact('y\r\ny\r\n')
    sh.sendcontrol('z')
    sh.expect_exact(f'\r\n{TSTP}\r\n(wd now: {config.work})\r\n')
    sh.expect_prompt()


def test_time_reports_a_command_and_jobs_over_the_threshold_and_nice_sets_the_priority():
    sh = Shell()
    usage = r'\d+\.\du \d+\.\ds \d+:\d\d\.\d\d \d+\.\d% \d+\+\d+k \d+\+\d+io \d+pf\+\d+w\r\n'
    sh.sendline('time sleep 0.1')
    sh.expect('time sleep 0.1\r\n' + usage)
    sh.expect_prompt()
    # Below the threshold nothing is reported; at 0 every command is, in the second word's format.
    run(sh, 'set time = 100')
    run(sh, '/bin/true')
    run(sh, "set time = ( 0 '<%U>' )")
    run(sh, '/bin/true', '<0.0>\r\n')
    run(sh, 'unset time')
    run(sh, 'nice +3')
    run(sh, '/usr/bin/nice', '3\r\n')


def test_a_hang_up_saves_the_history_and_hangs_up_the_foreground_job():
    # The login shell runs under a /bin/sh that stays the session leader, so that the job can
    # only be hung up by the shell itself. The job's last process sends the hang-up once the
    # first has its trap set (it reads the first one's "ready"); the first then writes on the
    # terminal. The sender repeats the hang-up until the shell is gone: the foreground wait
    # (jobs/process_table.cpp) can sleep through a hang-up that arrives just before it sleeps.
    sh = Shell(['/bin/sh', '-c', f'{config.orv} -l; echo "shell ended $?"; exec sleep 30'],
               prompt_command=PROMPT_COMMAND)
    run(sh, 'set savehist = 5 history = 5')
    sh.sendline("sh -c 'trap \"echo job got hang\"\"up >/dev/tty; exit\" HUP; echo ready;"
                " while :; do sleep 1; done' |"
                " sh -c 'read line; while kill -HUP $PPID; do sleep 1; done'")
    # The shell's end and the job's message come in either order.
    seen = {sh.expect(r'job got hangup|shell ended \d+').group(0) for _ in range(2)}
    assert seen == {'job got hangup', 'shell ended 1'}, seen  # 1: the signal number
    with open(os.path.join(config.home, '.history')) as f:
        history = f.read()
    assert 'kill -HUP $PPID' in history, history


def test_a_hang_up_signal_during_wait_ends_the_shell_with_its_number():
    sh = Shell(['/bin/sh', '-c', f'{config.orv} -l; echo "shell ended $?"; exec sleep 30'],
               prompt_command=PROMPT_COMMAND)
    sh.sendline('sleep 30 &')
    sh.expect(r'\[1\] \d+\r\n')
    sh.expect_prompt()
    sh.sendline('echo $$; wait')
    pid = int(sh.expect(r'\r\n(\d+)\r\n').group(1))
    os.kill(pid, signal.SIGXFSZ)
    sh.expect_exact(f'shell ended {int(signal.SIGXFSZ)}')
