"""A small terminal screen for the tests: what the terminal shows after the text a program wrote.

It knows what the line editor and the shell write: printable characters (wide ones take two
columns and do not split), carriage return, newline, backspace, the bell, and the control
sequences that move the cursor (A B C D H), erase the rest of the screen or row (J K) and clear
it (2J). A character written in the last column leaves the cursor there until the next one, which
begins the next row, as xterm does; at the bottom row a newline scrolls.
"""

import re
import unicodedata

_SEQUENCE = re.compile(r'\x1b\[([0-9;]*)([A-Za-z])')


def char_width(c):
    if unicodedata.combining(c):
        return 0
    return 2 if unicodedata.east_asian_width(c) in ('W', 'F') else 1


class Screen:
    def __init__(self, rows=24, columns=80):
        self.rows, self.columns = rows, columns
        self.cells = [[' '] * columns for _ in range(rows)]
        self.row = self.col = 0
        self.pending_wrap = False

    def _newline(self):
        self.pending_wrap = False
        if self.row == self.rows - 1:
            self.cells.pop(0)
            self.cells.append([' '] * self.columns)
        else:
            self.row += 1

    def _put(self, c):
        w = char_width(c)
        if w == 0:
            return
        if self.pending_wrap or self.col + w > self.columns:
            self.col = 0
            self._newline()
        self.cells[self.row][self.col] = c
        if w == 2:
            self.cells[self.row][self.col + 1] = ''
        if self.col + w >= self.columns:
            self.col = self.columns - 1
            self.pending_wrap = True
        else:
            self.col += w

    def _sequence(self, params, final):
        n = int(params) if params.isdigit() else 1
        self.pending_wrap = False
        if final == 'A':
            self.row = max(0, self.row - n)
        elif final == 'B':
            self.row = min(self.rows - 1, self.row + n)
        elif final == 'C':
            self.col = min(self.columns - 1, self.col + n)
        elif final == 'D':
            self.col = max(0, self.col - n)
        elif final == 'H':
            self.row = self.col = 0
        elif final == 'J':
            if params == '2':
                self.cells = [[' '] * self.columns for _ in range(self.rows)]
            else:
                self.cells[self.row][self.col:] = [' '] * (self.columns - self.col)
                for r in range(self.row + 1, self.rows):
                    self.cells[r] = [' '] * self.columns
        elif final == 'K':
            self.cells[self.row][self.col:] = [' '] * (self.columns - self.col)

    def feed(self, text):
        i = 0
        while i < len(text):
            m = _SEQUENCE.match(text, i)
            if m:
                self._sequence(m.group(1), m.group(2))
                i = m.end()
                continue
            c = text[i]
            i += 1
            if c == '\r':
                self.col = 0
                self.pending_wrap = False
            elif c == '\n':
                self._newline()
            elif c == '\b':
                self.col = max(0, self.col - 1)
                self.pending_wrap = False
            elif c >= ' ' and c != '\x7f':
                self._put(c)
        return self

    def lines(self):
        """The rows, without the blanks at their ends, and without the empty rows at the end."""
        rows = [''.join(r).rstrip() for r in self.cells]
        while rows and not rows[-1]:
            rows.pop()
        return rows

    def cursor(self):
        return self.row, self.col
