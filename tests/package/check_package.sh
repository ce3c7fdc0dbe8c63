#!/usr/bin/env bash
# Builds the Debian package from a build tree, has lintian judge it, unpacks
# it into a throwaway root and runs and validates what it installed there.
# Usage: check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=${1:?usage: check_package.sh BUILD_DIR VERSION}
version=${2:?usage: check_package.sh BUILD_DIR VERSION}

for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli man; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log") ||
  fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/out/oxloconfig_"$version"_*.deb)

# Errors fail; the warnings and notes left are listed in the README.
lintian --fail-on error --display-info "$deb" >"$work/lintian.log" 2>&1 ||
  fail "lintian: $(cat "$work/lintian.log")"
cat "$work/lintian.log"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no Qt in Depends: $(dpkg-deb -f "$deb" Depends)"

root=$work/root
dpkg-deb -x "$deb" "$root"
bin=$root/usr/bin
[ "$("$bin/oxlo" --version)" = "oxlo $version" ] || fail "oxlo --version: $("$bin/oxlo" --version)"
"$bin/oxlo" discover --help | grep -q -- "--interface" || fail "oxlo discover --help"
"$bin/oxlo-sim" --help | grep -q -- "--devices" || fail "oxlo-sim --help"
[ -x "$bin/oxloconfig" ] || fail "no oxloconfig"

desktop-file-validate "$root"/usr/share/applications/org.oxloconfig.OxloConfig.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/org.oxloconfig.OxloConfig.metainfo.xml
[ -f "$root"/usr/share/icons/hicolor/scalable/apps/org.oxloconfig.OxloConfig.svg ] || fail "no icon"
ls "$root"/usr/lib/*/wireshark/plugins/oxlo.lua >/dev/null || fail "no Wireshark dissector"
if command -v ansible-doc >/dev/null; then
  for module in oxlo_facts oxlo_address oxlo_config oxlo_firmware; do
    ANSIBLE_COLLECTIONS_PATH=$root/usr/share/ansible/collections HOME=$work \
      ansible-doc "oxlo.gateway.$module" >/dev/null || fail "Ansible does not find $module"
  done
fi

# Every manual page formats without a warning, and the command-line
# programs' pages name every subcommand and option their help lists.
for page in oxlo oxlo-sim oxloconfig; do
  file=$root/usr/share/man/man1/$page.1.gz
  [ -f "$file" ] || fail "no manual page for $page"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done
# The sections --help cannot give.
for page in oxlo oxlo-sim; do
  sections=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$root/usr/share/man/man1/$page.1.gz" 2>/dev/null | grep -E '^[A-Z][A-Z ]+$')
  for section in "EXIT STATUS" FILES ENVIRONMENT EXAMPLES; do
    grep -qx "$section" <<<"$sections" || fail "$page.1 has no $section section"
  done
done
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$root/usr/share/man/man1/oxlo.1.gz" 2>/dev/null)
subcommands() { sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF {print $1}'; }
options() { sed -n '/^Options:/,/^$/p' | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u; }
check_help() {
  local help
  help=$("$bin/oxlo" "$@" --help)
  [ $# -eq 0 ] || grep -qF "oxlo $*" <<<"$text" || fail "oxlo.1 lacks oxlo $*"
  for option in $(options <<<"$help"); do
    grep -qF -- "$option" <<<"$text" || fail "oxlo.1 lacks $option of oxlo $*"
  done
  for sub in $(subcommands <<<"$help"); do check_help "$@" "$sub"; done
}
check_help

# Completion: subcommands and options from the program's help, MACs from
# the last discovery.
complete_line() {
  (cd "$work/files" && PATH="$bin:$PATH" XDG_CACHE_HOME="$work/cache" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _oxlo oxlo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]} == 0)) || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ \
    "$root/usr/share/bash-completion/completions/oxlo" "$@")
}
mkdir -p "$work/cache/oxlo" "$work/files"
touch "$work/files/image.bin"
printf '02-00-00-00-00-01\n02-00-00-00-00-02\n' >"$work/cache/oxlo/devices"
check_completion() {
  local want=$1 got
  shift
  got=$(complete_line "$@")
  [ "$got" = "$want" ] || fail "completing '$*': '$got', not '$want'"
}
check_completion "config " oxlo con
check_completion "apply get set " oxlo config ""
check_completion "--json " oxlo discover --js
check_completion "--dry-run " oxlo config set --dry
check_completion "02-00-00-00-00-01 02-00-00-00-00-02 " oxlo config get ""
check_completion "02-00-00-00-00-02 " oxlo firmware 02-00-00-00-00-02
check_completion "image.bin " oxlo firmware 02-00-00-00-00-01 im
check_completion "lo " oxlo doctor --interface l
check_completion "" oxlo discover --timeout ""
echo "package $(basename "$deb") installs and checks out"
