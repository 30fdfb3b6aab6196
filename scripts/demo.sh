#!/usr/bin/env bash
# The main job, under Wine in the test prefix ($WINEPREFIX, by default build/wineprefix):
#
#   scripts/demo.sh          builds what it runs; publishes the stand-in product programs
#                            (build/product) as the releases 1.0.0 and 1.1.0 with the development
#                            key (build/demo-release/<version>); serves 1.1.0 from nginx over HTTPS
#                            on the loopback, under a certificate authority made for the run and
#                            trusted only inside the prefix; installs 1.0.0 from its folder,
#                            updates to 1.1.0 from the server, shows what is installed, removes it
#                            with the uninstaller the install left behind and shows that it is gone.
#   scripts/demo.sh --sayfali
#                            the paged install of 1.0.0 on the caller's display; without one,
#                            the setup's pages under Xvfb saved as pictures in build/demo-sayfalar.
#   scripts/demo.sh ARGS...  the same build, releases and server, then only Talvor-Kurulum.exe
#                            ARGS... (for example /kaldir /sessiz); an install run that names no
#                            release is pointed at the loopback server, never at the real one.
#
# Every step prints the log lines the setup wrote in it and checks what it should have done. The
# exit code is 0 only when every check passed (with ARGS: the setup's exit code). However the
# script ends, nginx is stopped, the authority leaves the prefix and the prefix's wineserver ends.
# shellcheck disable=SC2317 # cleanup runs from the exit trap, the predicates through check_true
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine_sh=$root/scripts/wine.sh
setup=$root/build/bin/Talvor-Kurulum.exe
yayin=$root/build/bin/talvor-yayin
release=$root/build/demo-release
prefix=${WINEPREFIX:-$root/build/wineprefix}
install_dir=$prefix/drive_c/Program\ Files/Talvor
install_log=$install_dir/kurulum.log
removal_log=$prefix/drive_c/users/$(id -un)/Temp/Talvor-Kaldir.log
start_menu_link=$prefix/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Talvor.lnk
desktop_link=$prefix/drive_c/users/Public/Desktop/Talvor.lnk
service_key='HKLM\System\CurrentControlSet\Services\Talvor'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Talvor'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
pending_key='HKLM\System\CurrentControlSet\Control\Session Manager'
# Longer than any setup run should take; a run still going then counts as failed.
setup_limit_s=300

# shellcheck source=tests/servers/loopback_servers.sh
. "$root/tests/servers/loopback_servers.sh"
servers_who=demo
servers_wine_sh=$wine_sh
servers_trust_root=$root/build/tests/trust_root.exe
servers_work=
# shellcheck source=tests/support/checks.sh
. "$root/tests/support/checks.sh"

cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  servers_stop
  servers_untrust || [ "$rc" -ne 0 ] || rc=1
  "$wine_sh" --stop
  [ -z "$servers_work" ] || rm -rf "$servers_work"
  exit "$rc"
}

die() {
  echo "demo: $*" >&2
  exit 1
}

heading() {
  checks_step=$1
  printf '\n== %s ==\n' "$1"
}

seconds_since() {
  awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'
}

port_closed() { ! servers_accepts "$1"; }

# A Windows program's output with Unix line ends, indented.
indented() {
  tr -d '\r' | sed 's/^/  /'
}

# "Z:\..." for a path of this machine.
windows_path() {
  local path=${1//\//\\}
  echo "Z:$path"
}

# The prefix's file behind a "C:\..." path, quotes around it dropped; empty for any other path.
prefix_path() {
  local path=${1#\"}
  path=${path%\"}
  case $path in
    [Cc]:\\*) path=${path:3}; echo "$prefix/drive_c/${path//\\//}" ;;
  esac
}

log_size() {
  stat -c %s "$1" 2>/dev/null || echo 0
}

# Prints the lines LOG gained after it had MARK bytes (all of it when it was made anew).
log_since() {
  local log=$1 mark=$2
  if [ ! -f "$log" ]; then
    echo "  (no log: ${log#"$prefix/"})"
    return
  fi
  [ "$(log_size "$log")" -ge "$mark" ] || mark=0
  if [ "$(log_size "$log")" -eq "$mark" ]; then
    echo "  (no new lines in ${log#"$prefix/"})"
    return
  fi
  echo "  log ${log#"$prefix/"}:"
  tail -c +$((mark + 1)) "$log" | tr -d '\r' | sed 's/^/  | /'
}

# run_setup LOG PROGRAM ARGS...: runs a setup program in the prefix, at most setup_limit_s, and
# prints its command line, exit code and time and the lines it wrote into LOG. Sets setup_code.
run_setup() {
  local log=$1 program=$2 mark start
  shift 2
  mark=$(log_size "$log")
  echo "  \$ ${program#"$root/"} $*"
  start=$EPOCHREALTIME
  # --foreground: an interrupt from the terminal reaches the setup too.
  LC_ALL=C.UTF-8 timeout --foreground -k 10 "$setup_limit_s" "$wine_sh" "$program" "$@" </dev/null 2>&1 | indented
  setup_code=${PIPESTATUS[0]}
  [ "$setup_code" -ne 124 ] || echo "  still running after $setup_limit_s s; ended"
  echo "  exit code $setup_code after $(seconds_since "$start") s"
  log_since "$log" "$mark"
}

# The values of a registry key, one "name<TAB>data" line each (a multi-string value gives a line
# per string; subkeys are left out); fails when the key is missing. Read from an export by reg.exe:
# its query prints text in the console's code page ("Yazılım" comes out as "Yazilim") and joins
# multi-strings with "\0", which a path can hold too.
reg_values() {
  local file=$servers_work/export.reg
  rm -f "$file"
  LC_ALL=C.UTF-8 "$wine_sh" reg export "$1" "$(windows_path "$file")" /y </dev/null >/dev/null 2>&1 &&
    [ -f "$file" ] || return 1
  python3 "$root/scripts/reg_values.py" "$file"
}

# The data of the value NAME in reg_values' output on the standard input (its first line).
value_of() {
  awk -F '\t' -v name="$1" '$1 == name { sub(/^[^\t]*\t/, ""); print; exit }'
}

# The state the service control manager reports for the service "Talvor" (RUNNING, STOPPED, ...),
# or "absent". (Wine's sc.exe says nothing when the service does not exist.)
service_state() {
  local state
  state=$(LC_ALL=C.UTF-8 "$wine_sh" sc query Talvor </dev/null 2>&1 | tr -d '\r' |
    sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p')
  if [ -n "$state" ]; then
    echo "$state"
  elif reg_values "$service_key" >/dev/null; then
    echo "not known to the service control manager, but still in the registry"
  else
    echo absent
  fi
}

key_gone() {
  ! reg_values "$1" >/dev/null
}

# The key is there and the value NAME is not.
value_gone() {
  local values
  values=$(reg_values "$1") && ! cut -f 1 <<<"$values" | grep -qxF "$2"
}

pointer() {
  tr -d '\r\n' <"$install_dir/$1" 2>/dev/null
}

version_dirs() {
  local dir names=()
  for dir in "$install_dir"/surumler/*/; do
    [ -d "$dir" ] && names+=("$(basename "$dir")")
  done
  echo "${names[*]}"
}

# The version folder holds every file of the stand-in product, byte for byte (and may hold more:
# the service program keeps its record beside itself).
has_product_files() {
  local file
  for file in "$root"/build/product/*; do
    cmp -s "$file" "$install_dir/surumler/$1/$(basename "$file")" || return 1
  done
}

# Each entry left in the install folder, the folder included, waits for deletion at the next
# restart: PendingFileRenameOperations names it as "\??\C:\Program Files\Talvor\..." (Windows
# compares names regardless of case).
only_restart_leftovers() {
  [ -e "$install_dir" ] || return 0
  local pending entry relative
  pending=$(reg_values "$pending_key" | awk -F '\t' '$1 == "PendingFileRenameOperations" { print tolower($2) }')
  while IFS= read -r -d '' entry; do
    relative=${entry#"$prefix/drive_c/"}
    relative=${relative//\//\\}
    if ! grep -qxF "\\??\\c:\\${relative,,}" <<<"$pending"; then
      echo "left, with no deletion pending: C:\\$relative"
      return 1
    fi
  done < <(find "$install_dir" -print0)
}

# Shows the service, the version store, the uninstall entry, the Run value and the shortcuts, and
# checks them against an update from PREVIOUS to CURRENT.
show_installed() {
  local current=$1 previous=$2 state image entry run_value name
  state=$(service_state)
  image=$(reg_values "$service_key" | value_of ImagePath)
  entry=$(reg_values "$uninstall_key")
  run_value=$(reg_values "$run_key" | value_of Talvor)
  echo "  service Talvor: $state"
  echo "    image path: $image"
  echo "  C:\\Program Files\\Talvor: guncel = $(pointer guncel), onceki = $(pointer onceki)," \
    "surumler: $(version_dirs)"
  echo "  uninstall entry $uninstall_key:"
  for name in DisplayName DisplayVersion Publisher InstallLocation UninstallString QuietUninstallString \
    EstimatedSize; do
    printf '    %-21s %s\n' "$name" "$(value_of "$name" <<<"$entry")"
  done
  echo "  Run value Talvor: $run_value"
  for name in "$start_menu_link" "$desktop_link"; do
    if [ -f "$name" ]; then echo "  shortcut: ${name#"$prefix/"}"; else echo "  no shortcut ${name#"$prefix/"}"; fi
  done

  check "service is running" "$state" RUNNING
  check "service runs the current version's talvor_svc.exe" "$image" \
    "\"C:\\Program Files\\Talvor\\surumler\\$current\\talvor_svc.exe\""
  check "guncel names $current" "$(pointer guncel)" "$current"
  check "onceki names $previous" "$(pointer onceki)" "$previous"
  check "surumler holds $previous and $current" "$(version_dirs)" "$previous $current"
  check_true "surumler\\$current holds the product's files" has_product_files "$current"
  check "uninstall entry's name" "$(value_of DisplayName <<<"$entry")" Talvor
  check "uninstall entry's version" "$(value_of DisplayVersion <<<"$entry")" "$current"
  check "uninstall entry's publisher" "$(value_of Publisher <<<"$entry")" "Tekvar Yazılım"
  check "uninstall entry's quiet command" "$(value_of QuietUninstallString <<<"$entry")" \
    '"C:\Program Files\Talvor\Talvor-Kaldir.exe" /kaldir /sessiz'
  check_true "the uninstaller is in the install folder" test -f "$install_dir/Talvor-Kaldir.exe"
  check "Run value" "$run_value" '"C:\Program Files\Talvor\Talvor.exe" --tepside'
  check_true "the Run value's program is there" test -f "$(prefix_path "${run_value% --tepside}")"
  check_true "Start menu shortcut" test -f "$start_menu_link"
  check_true "desktop shortcut" test -f "$desktop_link"
}

# Shows and checks that nothing of the product is left but files waiting for the next restart.
show_removed() {
  local state leftovers
  state=$(service_state)
  leftovers=$(find "$install_dir" 2>/dev/null | sed "s|^$prefix/drive_c/|C:/|; s|/|\\\\|g")
  echo "  service Talvor: $state"
  echo "  install folder: ${leftovers:-gone}" | sed '2,$s/^/                  /'
  check "service is gone" "$state" absent
  check_true "install folder is gone, or all that is left waits for the restart" only_restart_leftovers
  check_true "uninstall entry is gone" key_gone "$uninstall_key"
  check_true "Run value is gone" value_gone "$run_key" Talvor
  check_true "Start menu shortcut is gone" test ! -e "$start_menu_link"
  check_true "desktop shortcut is gone" test ! -e "$desktop_link"
}

installed_before() {
  [ "$(service_state)" != absent ] || [ -e "$install_dir/guncel" ] || ! key_gone "$uninstall_key"
}

# --- the steps -----------------------------------------------------------------------------------

build_demo() {
  heading "Build"
  local start=$EPOCHREALTIME
  "$root/scripts/install-deps.sh" || die "the packages the build needs could not be installed"
  # Only what the demo runs: not the test programs, nor the sanitized native build.
  "$root/scripts/build.sh" Talvor-Kurulum talvor-denetle native_tools product_programs trust_root \
    compress_api_standin || die "the build failed"
  echo "  built in $(seconds_since "$start") s"
}

# From here on, whatever way the script ends, cleanup runs.
start_run() {
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  servers_work=$(mktemp -d -t talvor-demo.XXXXXX) || die "could not make a temporary folder"
  checks_work=$servers_work
}

publish_releases() {
  heading "Publish 1.0.0 and 1.1.0 with the development key"
  local version line
  { rm -rf "$release" && mkdir -p "$release"; } || die "could not make ${release#"$root/"} anew"
  local serial=0
  for version in 1.0.0 1.1.0; do
    # Published within a second of each other into two folders: the serials are given, rising as
    # the setup demands.
    serial=$((serial + 1))
    # Its progress (stderr) indented like the rest, its lines (stdout) to sed: the substitution
    # ends after the indenting does, so the progress comes before the line echoed below.
    line=$({ "$yayin" yayinla --anahtar="$root/keys/dev-release.pem" --surum=$version --seri=$serial \
      --kurulum="$setup" "$root/build/product" "$release/$version" 2>&1 >&3 | indented >&2; } 3>&1 | sed -n 's/^bilesen=//p') ||
      die "could not publish $version"
    echo "  ${release#"$root/"}/$version: $line"
  done
  echo "  1.0.0 as the release checker takes it from its folder:"
  LC_ALL=C.UTF-8 "$wine_sh" "$root/build/bin/talvor-denetle.exe" --yerel="$(windows_path "$release/1.0.0")" </dev/null |
    indented
  [ "${PIPESTATUS[0]}" -eq 0 ] || die "the release checker refused 1.0.0"
}

# Serves 1.1.0 from nginx and sets url to where.
serve_update() {
  heading "Serve 1.1.0 over HTTPS on the loopback"
  [ -f "$servers_trust_root" ] || die "$servers_trust_root is not built"
  servers_trust_new_authority
  echo "  a new certificate authority is trusted in the prefix for this run"
  servers_start_nginx "$release/1.1.0"
  url="https://127.0.0.1:$(servers_port nginx)/guncelleme/"
  echo "  nginx serves ${release#"$root/"}/1.1.0 at $url"
  echo "  1.1.0 as the release checker takes it from the server:"
  LC_ALL=C.UTF-8 "$wine_sh" "$root/build/bin/talvor-denetle.exe" --adres="$url" </dev/null | indented
  [ "${PIPESTATUS[0]}" -eq 0 ] || die "the release checker refused 1.1.0 from the server"
}

# Whether one of the arguments matches the pattern, as the setup reads options: any case, with
# "--", "/" or "-" before the name.
names_option() {
  local pattern=$1 argument
  shift
  shopt -s nocasematch
  for argument in "$@"; do
    if [[ $argument =~ ^(--|/|-)$pattern ]]; then
      shopt -u nocasematch
      return 0
    fi
  done
  shopt -u nocasematch
  return 1
}

# The paged install of 1.0.0 from its folder, on the caller's display.
run_paged() {
  heading "Talvor-Kurulum.exe --yerel=... on $DISPLAY"
  setup_limit_s=3600 # a person reads and clicks
  run_setup "$install_log" "$setup" --yerel="$(windows_path "$release/1.0.0")" "$@"
  exit "$setup_code"
}

# Talvor-Kurulum.exe with the caller's arguments; an install that names no release is pointed
# at the loopback server.
run_one_command() {
  if names_option 'kaldir$' "$@"; then
    heading "Talvor-Kurulum.exe $*"
    run_setup "$removal_log" "$setup" "$@"
    exit "$setup_code"
  fi
  serve_update
  names_option '(yerel|adres)=' "$@" || set -- "$@" --adres="$url"
  heading "Talvor-Kurulum.exe $*"
  run_setup "$install_log" "$setup" "$@"
  exit "$setup_code"
}

# Install, update from the server, show, remove with the installed uninstaller, show.
run_sequence() {
  serve_update
  if installed_before; then
    heading "Remove what an earlier run left installed"
    run_setup "$removal_log" "$setup" /kaldir /sessiz
    ! installed_before || die "Talvor is still installed in $prefix; the demo needs a prefix without it"
  fi

  heading "Install 1.0.0 from its folder"
  run_setup "$install_log" "$setup" /sessiz --yerel="$(windows_path "$release/1.0.0")"
  check "exit code" "$setup_code" 0
  check "guncel names 1.0.0" "$(pointer guncel)" 1.0.0
  check "service is running" "$(service_state)" RUNNING

  heading "Update to 1.1.0 from the server"
  run_setup "$install_log" "$setup" /sessiz --adres="$url"
  check "exit code" "$setup_code" 0

  heading "Installed state"
  show_installed 1.1.0 1.0.0

  heading "Remove with the installed uninstaller"
  run_setup "$removal_log" 'C:\Program Files\Talvor\Talvor-Kaldir.exe' /kaldir /sessiz
  check "exit code" "$setup_code" 0

  heading "State after the removal"
  show_removed

  heading "Stop the server, take the authority out of the prefix"
  local port
  port=$(servers_port nginx)
  servers_stop
  check_true "nothing listens on port $port any more" port_closed "$port"
  check_true "the authority is no longer trusted in the prefix" servers_untrust

  heading "Result"
  checks_summary
}

main() {
  if [ "${1:-}" = --sayfali ] && [ -z "${DISPLAY:-}" ]; then
    # Without a display of their own, the pages are shown on the prefix's X server and saved.
    heading "The setup's pages, saved as pictures in build/demo-sayfalar"
    exec "$root/scripts/wizard-pictures.sh" "$root/build/demo-sayfalar"
  fi
  build_demo
  start_run
  publish_releases
  if [ "${1:-}" = --sayfali ]; then
    shift
    run_paged "$@"
  elif [ $# -gt 0 ]; then
    run_one_command "$@"
  else
    run_sequence
  fi
}

url=
main "$@"
