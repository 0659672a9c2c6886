#!/usr/bin/env bash
# Checks the bash completions of the four programs by calling them as bash would on a few
# command lines, in a scratch directory with a few files.
#   completion/check_completion.sh [--installed] DIR [QUORVANE]
# DIR        the completions: completion/ of the sources (<program>.bash), or with --installed
#            an installed .../share/bash-completion/completions (<program>), loaded the way
#            bash loads them, on the first completion of the program's name
# QUORVANE   a quorvane program: then also check that the commands and options completed are
#            those its --help and each `quorvane COMMAND --help` list
# Needs bash-completion (/usr/share/bash-completion/bash_completion).
set -euo pipefail

installed=0
if [[ ${1:-} == --installed ]]; then
  installed=1
  shift
fi
(($# >= 1)) || { echo "usage: $0 [--installed] DIR [QUORVANE]" >&2; exit 2; }
dir=$(cd "$1" && pwd)
quorvane=${2:-}
if [[ -n $quorvane ]]; then
  quorvane=$(command -v "$quorvane") || { echo "$0: no program $2" >&2; exit 2; }
  [[ $quorvane == /* ]] || quorvane=$PWD/$quorvane
fi

# bash-completion's functions need these, and see no terminal here.
set +eu +o pipefail
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
set -eu -o pipefail

for program in quorvane quorvane-gui bintodld formatswitch; do
  if ((installed)); then
    [[ -f $dir/$program ]] || { echo "FAIL: $dir/$program is missing" >&2; exit 1; }
    # What bash does on the first completion of the program: find its file by its name in the
    # completions directories, DIR first.
    BASH_COMPLETION_USER_DIR=${dir%/completions} __load_completion "$program" || true
  else
    # shellcheck source=/dev/null
    source "$dir/$program.bash"
  fi
  complete -p "$program" >/dev/null 2>&1 || { echo "FAIL: no completion for $program" >&2; exit 1; }
done

failures=0

# Sets COMPREPLY for the command line of the arguments, the last being the word completed
# (empty: after a space), and prints it sorted on one line.
complete_line() {
  local function
  function=$(complete -p "$1" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  set +eu +o pipefail
  "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  set -eu -o pipefail
  ((${#COMPREPLY[@]})) || return 0
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ' -
}

# expect "WANTED" WORD...: the completions of the line are exactly WANTED (sorted).
expect() {
  local wanted=$1 got
  shift
  got=$(complete_line "$@")
  if [[ $got == "$wanted" ]]; then
    echo "ok   '$*' -> $got"
  else
    echo "FAIL '$*' -> '$got', wanted '$wanted'" >&2
    failures=$((failures + 1))
  fi
}

# expect_all "WORDS" LINE...: every one of WORDS is among the completions.
expect_all() {
  local wanted=$1 got word missing=()
  shift
  got=" $(complete_line "$@") "
  for word in $wanted; do
    [[ $got == *" $word "* ]] || missing+=("$word")
  done
  if ((${#missing[@]} == 0)); then
    echo "ok   '$*' offers $wanted"
  else
    echo "FAIL '$*' does not offer ${missing[*]} (offers:$got)" >&2
    failures=$((failures + 1))
  fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
mkdir outdir
touch box.dld outfile.bin logo.jpg logo.png notes.txt boot.bmp manufacturer.cfg

expect "build" quorvane bu
expect "--output-dir" quorvane build --ou
expect "build diff extract info pack sample verify" quorvane ""
expect "all app full" quorvane sample box.dld --variant ""
expect "full" quorvane sample box.dld --variant=f
expect "outdir" quorvane build --output-dir o
expect "outdir" quorvane build box.dld --workdir ""
expect "outdir outfile.bin" quorvane build o
expect "logo.jpg logo.png" quorvane build box.dld --boot l
expect "boot.bmp box.dld" quorvane info b
expect "outdir" quorvane extract box.dld o
expect "outdir" quorvane pack o
expect "" quorvane build box.dld n
expect "--json" quorvane verify --j
expect "--help --version" quorvane --
expect "" quorvane build --model-id ""
expect "--help --version" quorvane-gui -
expect "box.dld" quorvane-gui box
expect "" quorvane-gui box.dld b
expect "manufacturer.cfg" bintodld m
expect "outdir outfile.bin" bintodld manufacturer.cfg manufacturer.cfg o
expect "boot.bmp" formatswitch -c b
expect "-c" formatswitch -c

# The commands and options are those the program lists.
if [[ -n $quorvane ]]; then
  help=$("$quorvane" --help)
  commands=$(sed -n '/^[A-Za-z ]*[Cc]ommands:/,/^$/s/^  \([a-z][a-z0-9-]*\).*/\1/p' <<<"$help" |
    sort | paste -sd ' ' -)
  [[ -n $commands ]] || { echo "FAIL: $quorvane --help lists no commands" >&2; exit 1; }
  expect "$commands" quorvane ""

  # The long options of a --help: the names in the entries of its lists ("  -q, --quiet  ..."
  # or CLI11's "  -q,--quiet ...").
  long_options() {
    sed -n 's/^  \(-.*\)$/\1/p' | sed 's/  .*//' | grep -o -- '--[A-Za-z0-9-]*' |
      paste -sd ' ' - || true
  }
  expect_all "$(long_options <<<"$help")" quorvane --
  for command in $commands; do
    expect_all "$("$quorvane" "$command" --help | long_options)" quorvane "$command" --
  done
fi

if ((failures)); then
  echo "$failures completion check(s) failed" >&2
  exit 1
fi
echo "all completion checks passed"
