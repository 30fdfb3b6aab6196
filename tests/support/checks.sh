# shellcheck shell=bash
# Pass/fail checks as shell functions to source, for scripts/demo.sh and the shell tests
# (tests/release/release_roundtrip.sh, tests/servers/update_server_test.sh, tests/setup/signing_test.sh):
#   check WHAT GOT WANT          WHAT held when GOT equals WANT
#   check_true WHAT COMMAND...   WHAT held when COMMAND, run in this shell, succeeds
#   checks_summary               the count and the failed checks; ends the script, with 0 only
#                                when checks ran and none failed
# A check prints "  ok    WHAT", or "  FAIL  WHAT" with the difference or COMMAND's last output
# lines and returns 1, for a caller with more to show. Before check_true, the caller sets
# checks_work: a private temporary folder of its own, for COMMAND's output. It may set
# checks_step, the step that the list of failures names.

# shellcheck disable=SC2154 # checks_work: set by the caller
checks_run=0
checks_failed=()
checks_step=

# Counts the check WHAT, passed when STATUS is 0, and prints its line.
checks_count() { # STATUS WHAT [WHY]
  checks_run=$((checks_run + 1))
  [ "$1" -ne 0 ] || { echo "  ok    $2"; return 0; }
  checks_failed+=("${checks_step:+$checks_step: }$2")
  echo "  FAIL  $2${3:-}"
  return 1
}

check() {
  if [ "$2" == "$3" ]; then
    checks_count 0 "$1"
  elif [[ $2$3 == *$'\n'* ]]; then
    checks_count 1 "$1" " (< wanted, > got):"
    diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") | sed 's/^/        /'
    return 1
  else
    checks_count 1 "$1" ": \"$2\" instead of \"$3\""
  fi
}

check_true() {
  local what=$1 status=0
  shift
  "$@" >"$checks_work/check-output" 2>&1 || status=$?
  checks_count "$status" "$what" && return 0
  tail -n 20 "$checks_work/check-output" | sed 's/^/        /'
  return 1
}

checks_summary() {
  if [ ${#checks_failed[@]} -gt 0 ]; then
    echo "  ${#checks_failed[@]} of $checks_run checks failed:"
    printf '    %s\n' "${checks_failed[@]}"
  elif [ "$checks_run" -eq 0 ]; then
    echo "  no check ran"
  else
    echo "  all $checks_run checks passed"
    exit 0
  fi
  exit 1
}
