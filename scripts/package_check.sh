#!/usr/bin/env bash
# Makes the Debian package (scripts/package.sh), installs it with apt-get, checks the installed
# files alone (/usr/bin, /usr/share; nothing of build*/), and removes the package again:
#   - every program finds its libraries; quorvane --version names the package's version
#   - man -w finds the four manual pages
#   - quorvane sample, then quorvane build of it with a PNG boot logo made from
#     samples/logo.jpg (the JPEG itself while `quorvane build --help` names no PNG), then
#     quorvane verify and info of what it wrote
#   - bash -n on the four completions, and completion/check_completion.sh on them as bash
#     loads them
#   - desktop-file-validate on the desktop entry, appstreamcli validate --no-net on the
#     metainfo, and the icon in place
# Runs apt-get as root, or through sudo. Refuses to run while a package quorvane is installed,
# so that it leaves the machine as it found it.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "package_check: need root or sudo" >&2; exit 1; }
  as_root=(sudo)
fi
if [[ $(dpkg-query -W -f='${Status}' quorvane 2>/dev/null || true) == *" installed" ]]; then
  echo "package_check: the package quorvane is installed; remove it first" \
    "(apt-get remove quorvane)" >&2
  exit 1
fi

deb=$(bash scripts/package.sh)
version=$(dpkg-deb --field "$deb" Version)
echo "package_check: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends

scratch=$(mktemp -d)
cleanup() {
  echo "package_check: removing the package"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quorvane >/dev/null ||
    true
  rm -rf "$scratch"
}
trap cleanup EXIT

# Debian's container images may keep manual pages out (path-exclude=/usr/share/man/* in
# /etc/dpkg/dpkg.cfg.d/); this package's own pages are let in again, so that man finds them.
pages=(quorvane quorvane-gui bintodld formatswitch)
dpkg_options=()
for page in "${pages[@]}"; do
  dpkg_options+=(-o "DPkg::Options::=--path-include=/usr/share/man/man1/$page.1*")
done
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  --no-install-recommends "${dpkg_options[@]}" "$deb" >/dev/null
echo "package_check: installed quorvane $version"

failures=0
pass() { echo "ok   $*"; }
fail() {
  echo "FAIL $*" >&2
  failures=$((failures + 1))
}

# Every program, and its libraries.
for program in quorvane quorvane-gui bintodld formatswitch; do
  if [[ ! -x /usr/bin/$program ]]; then
    fail "/usr/bin/$program is missing"
  elif ldd "/usr/bin/$program" 2>&1 | grep -q "not found"; then
    fail "/usr/bin/$program lacks libraries: $(ldd "/usr/bin/$program" | grep "not found")"
  else
    pass "/usr/bin/$program finds its libraries"
  fi
done

# --version (checked once quorvane --help lists it).
if answer=$(/usr/bin/quorvane --version 2>&1) && [[ $answer == *"$version"* ]]; then
  pass "quorvane --version: $answer"
elif /usr/bin/quorvane --help | grep -q -- --version; then
  fail "quorvane --version: '$answer', wanted the version $version"
else
  echo "note quorvane takes no --version yet"
fi

# The manual pages.
for page in "${pages[@]}"; do
  if found=$(man -w "$page" 2>&1) && [[ $found == /usr/share/man/man1/$page.1* ]]; then
    pass "man -w $page: $found"
  else
    fail "man -w $page: $found"
  fi
done

# The tool's main job, from the installed program.
cd "$scratch"
logo=$repo/samples/logo.jpg
if /usr/bin/quorvane build --help | grep -qi png; then
  ffmpeg -v error -i "$logo" logo.png
  logo=$scratch/logo.png
fi
if /usr/bin/quorvane sample x.dld --variant all >sample.log 2>&1; then
  pass "quorvane sample x.dld"
else
  fail "quorvane sample x.dld: $(cat sample.log)"
fi
if /usr/bin/quorvane build x.dld --output-dir out --boot "$logo" --model-id QV-PACKAGE \
  >build.log 2>&1; then
  pass "quorvane build x.dld --boot ${logo##*/}"
else
  fail "quorvane build x.dld --boot ${logo##*/}: $(cat build.log)"
fi
if /usr/bin/quorvane verify out/x_Merge.dld >verify.log 2>&1 &&
  /usr/bin/quorvane info out/x_Merge.dld | grep -q QV-PACKAGE; then
  pass "quorvane verify and info of out/x_Merge.dld"
else
  fail "quorvane verify or info of out/x_Merge.dld: $(cat verify.log)"
fi
cd "$repo"

# The bash completions.
completions=/usr/share/bash-completion/completions
for program in "${pages[@]}"; do
  if bash -n "$completions/$program"; then
    pass "bash -n $completions/$program"
  else
    fail "bash -n $completions/$program"
  fi
done
if bash completion/check_completion.sh --installed "$completions" /usr/bin/quorvane \
  >"$scratch/completion.log" 2>&1; then
  pass "completion/check_completion.sh --installed $completions"
else
  fail "completion/check_completion.sh --installed $completions:"
  cat "$scratch/completion.log" >&2
fi

# The desktop entry, its icon and the metainfo.
id=io.github.quorvane.Quorvane
if desktop-file-validate "/usr/share/applications/$id.desktop"; then
  pass "desktop-file-validate /usr/share/applications/$id.desktop"
else
  fail "desktop-file-validate /usr/share/applications/$id.desktop"
fi
if appstreamcli validate --no-net "/usr/share/metainfo/$id.metainfo.xml" >"$scratch/as.log"; then
  pass "appstreamcli validate --no-net /usr/share/metainfo/$id.metainfo.xml"
else
  fail "appstreamcli validate --no-net /usr/share/metainfo/$id.metainfo.xml:"
  cat "$scratch/as.log" >&2
fi
if [[ -f /usr/share/icons/hicolor/scalable/apps/$id.svg ]]; then
  pass "icon /usr/share/icons/hicolor/scalable/apps/$id.svg"
else
  fail "no icon /usr/share/icons/hicolor/scalable/apps/$id.svg"
fi

if ((failures)); then
  echo "package_check: $failures check(s) failed" >&2
  exit 1
fi
echo "package_check: all checks passed"
