# The counting of the shell-script checks (install_check.sh, deb_check.sh), sourced by them.
passed=0
failed=0
# check WHAT COMMAND...: runs the command; a failure prints WHAT.
check() {
    what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $what"
    fi
}
# Prints the count and returns the verdict.
summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ]
}
