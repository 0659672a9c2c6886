#!/usr/bin/env bash
# Makes the Debian package quorvane_<version>_<arch>.deb: installs what is missing, configures
# a Release build without the tests into build-package/ (manual pages required), builds it, runs
# cpack, and prints the package's path on standard output (everything else goes to standard
# error), so that `deb=$(bash scripts/package.sh)` takes it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2

# The date in the manual pages and the times in the package: the last commit's, so that the
# same sources make the same package.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]] && git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DQUORVANE_MAN_PAGES=ON -DCMAKE_INSTALL_PREFIX=/usr >&2
cmake --build build-package -j"$(nproc)" >&2
rm -f build-package/quorvane_*.deb
(cd build-package && cpack -G DEB >&2)

debs=(build-package/quorvane_*.deb)
[[ -f ${debs[0]} ]] || { echo "package: cpack made no build-package/quorvane_*.deb" >&2; exit 1; }
realpath "${debs[0]}"
