#!/usr/bin/env bash
# Builds the Debian package of a Linux build and checks it: its fields, its files, and that the
# volmo it installs into a scratch root runs. Checks cmake --install the same way.
#   check_deb.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$scratch/out/volmo_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no package $deb"
[ "$(dpkg-deb -f "$deb" Package)" = volmo ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
[ -z "$(dpkg-deb -f "$deb" Depends)" ] || fail "a static executable depends on nothing"
contents=$(dpkg-deb --contents "$deb")
grep -q ' \./usr/bin/volmo$' <<<"$contents" || fail "no usr/bin/volmo in $contents"
grep -q ' \./usr/share/man/man1/volmo\.1$' <<<"$contents" || fail "no manual page"

dpkg -x "$deb" "$scratch/root"
listing=$("$scratch/root/usr/bin/volmo" -l) || fail "the installed volmo -l failed"
grep -q $'\tvolmo$' <<<"$listing" || fail "the installed volmo does not list itself"

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
[ -x "$scratch/prefix/bin/volmo" ] || fail "cmake --install: no bin/volmo"
[ -f "$scratch/prefix/share/man/man1/volmo.1" ] || fail "cmake --install: no manual page"
echo "package $(basename "$deb") checked"
