#!/bin/sh
# Checks `make install` and `make uninstall` of a build tree into a scratch DESTDIR:
#   tests/install_check.sh [BUILD]
# The installed files are exactly the stripped shell, its manual and the documents; the shell
# reports the project's version and its installed path as the default of `shell`; the example
# start-up files run without a message; uninstalling leaves nothing behind.
set -u
BUILD=${1:-build}
cd "$(dirname "$0")/.."
. tests/check.sh

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
if ! make --no-print-directory install BUILD="$BUILD" DESTDIR="$stage/root" >"$stage/log" 2>&1; then
    cat "$stage/log"
    echo "FAIL: make install"
    echo "0 passed, 1 failed"
    exit 1
fi

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
prefix=$(cache_value CMAKE_INSTALL_PREFIX)
version=$(cache_value CMAKE_PROJECT_VERSION)
root=$stage/root$prefix
orv=$root/bin/orv

expected="bin/orv
share/doc/orv/LICENSE
share/doc/orv/NEWS.md
share/doc/orv/README.md
share/doc/orv/login
share/doc/orv/logout
share/doc/orv/orvrc
share/man/man1/orv.1"
installed=$(cd "$root" && find . -type f | sed 's,^\./,,' | LC_ALL=C sort)
check "the installed files are $(echo $expected): got $(echo $installed)" \
    test "$installed" = "$expected"
check "the installed shell is executable" test -x "$orv"
check "the installed shell is stripped" sh -c "! readelf -S '$orv' | grep -q '\.symtab'"

check "orv --version prints 'orv $version'" test "$("$orv" --version)" = "orv $version"
check "NEWS.md has a section for $version" grep -q "^## $version " NEWS.md
check "the manual's footer names version $version" \
    grep -qx "\.Os orv $version" "$root/share/man/man1/orv.1"
if command -v mandoc >/dev/null 2>&1; then
    check "the installed manual lints clean" sh -c \
        "mandoc -T lint -W warning '$root/share/man/man1/orv.1' 2>&1 | grep -v 'referenced manual not found' | grep -q . && exit 1; exit 0"
fi
check "the default of shell is the installed path $prefix/bin/orv" \
    test "$("$orv" -f -c 'echo $shell')" = "$prefix/bin/orv"

# The examples as a user puts them in place: a login shell reads all three. The job-control
# warnings of a shell without a terminal are the only expected diagnostics.
home=$stage/home
mkdir -p "$home"
cp "$root/share/doc/orv/orvrc" "$home/.orvrc"
cp "$root/share/doc/orv/login" "$home/.login"
cp "$root/share/doc/orv/logout" "$home/.logout"
printf 'echo $history $savehist $?edit\nalias ll\ncd /usr\n' >"$stage/input"
env -i HOME="$home" USER=someone PATH=/usr/bin:/bin TERM=dumb "$orv" -i <"$stage/input" \
    >"$stage/out" 2>"$stage/err"
check "an interactive shell runs the example ~/.orvrc (status $?)" test $? = 0
check "~/.orvrc sets history, savehist and edit" grep -q '% 1000 1000 1$' "$stage/out"
check "~/.orvrc sets the aliases" grep -qx 'ls -l' "$stage/out"
check "the prompt shows the directory after cd" grep -q ' usr% exit$' "$stage/out"
grep -v -e '^Warning: no access to tty' -e '^Thus no job control' "$stage/err" >"$stage/messages"
check "no message from the example files: $(cat "$stage/messages")" test ! -s "$stage/messages"
echo 'echo $EDITOR $path[1]' | env -i HOME="$home" USER=someone PATH=/usr/bin:/bin \
    "$orv" -l >"$stage/out" 2>"$stage/err"
check "a login shell reads the example ~/.login" grep -qx 'vi /usr/bin' "$stage/out"
grep -v -e '^Warning: no access to tty' -e '^Thus no job control' "$stage/err" >"$stage/messages"
check "no message from the example ~/.login: $(cat "$stage/messages")" test ! -s "$stage/messages"
check "the example ~/.logout runs" sh -c \
    "env -i HOME='$home' PATH=/usr/bin:/bin '$orv' -c 'source ~/.logout' | grep -q '^logged out at '"

if make --no-print-directory uninstall BUILD="$BUILD" DESTDIR="$stage/root" >"$stage/log" 2>&1; then
    left=$(cd "$stage/root" && find . -type f -o -type d -path '*/orv' | sed 's,^\./,,')
    check "make uninstall removes every file and share/doc/orv: left $(echo $left)" test -z "$left"
else
    cat "$stage/log"
    check "make uninstall" false
fi

echo "install_check: $prefix, version $version"
summary
