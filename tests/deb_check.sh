#!/bin/sh
# Installs the Debian package on this machine, runs the installed shell, checks that it is
# registered in /etc/shells, then purges it and checks that nothing is left:
#   tests/deb_check.sh PACKAGE.deb
# It changes the machine (dpkg as root): CI runs it through `make deb-check`.
set -u
deb=$1
. "$(dirname "$0")/check.sh"
listed() { grep -qx "$1" /etc/shells; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! dpkg -i "$deb" >"$scratch/log" 2>&1; then
    cat "$scratch/log"
    echo "FAIL: dpkg -i $deb"
    echo "0 passed, 1 failed"
    exit 1
fi
version=$(dpkg-query -W -f '${Version}' orv)
check "the installed orv says its version $version" \
    test "$(/usr/bin/orv --version)" = "orv $version"
check "/etc/shells lists /bin/orv" listed /bin/orv
check "/etc/shells lists /usr/bin/orv" listed /usr/bin/orv
check "the manual is installed" test -f /usr/share/man/man1/orv.1.gz
check "the example start-up files are installed" \
    test -f /usr/share/doc/orv/orvrc -a -f /usr/share/doc/orv/login -a -f /usr/share/doc/orv/logout

# A script run through its #! line, and one without (it begins with #), which the shell hands to
# the path in the variable shell: the installed binary.
cd "$scratch"
printf '#!/usr/bin/orv -f\nset n = 0\nforeach w ( $argv )\n    @ n++\nend\necho $n words\n' >counted
printf '# no #! line\necho run by $shell\n' >plain
chmod +x counted plain
check "a #!/usr/bin/orv script runs" test "$(./counted a b c)" = "3 words"
check "a script without #! runs under the installed orv" \
    test "$(HOME="$scratch" /usr/bin/orv -f -c ./plain)" = "run by /usr/bin/orv"
cd /

if dpkg --purge orv >"$scratch/log" 2>&1; then
    check "the purge takes /bin/orv out of /etc/shells" sh -c '! grep -qx /bin/orv /etc/shells'
    check "the purge takes /usr/bin/orv out of /etc/shells" \
        sh -c '! grep -qx /usr/bin/orv /etc/shells'
    check "the purge removes the shell" test ! -e /usr/bin/orv
    check "the purge removes the documents" test ! -e /usr/share/doc/orv
else
    cat "$scratch/log"
    check "dpkg --purge orv" false
fi

echo "deb_check: $deb"
summary
