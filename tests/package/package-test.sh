#!/bin/sh
# The Debian package as a user meets it. Builds it with CPack from the build
# directory given, checks its contents and metadata (file list, dependencies,
# desktop entry, AppStream, manual page, completion, every command and option
# documented), then, as root, installs it with apt-get, guides the simulated
# sky with the installed program from an empty directory, and removes it,
# checking that nothing of it is left. Not root: the install is skipped
# (exit 77, which CTest shows as skipped), after the checks that need no root.
set -eu
BUILD=$(cd "$1" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "package test: FAILED: $*" >&2; exit 1; }

cd "$BUILD"
cpack -G DEB --config CPackConfig.cmake >"$WORK/cpack.log" 2>&1 || { cat "$WORK/cpack.log" >&2; fail "cpack"; }
DEB=$(ls -t "$BUILD"/package/quorvel_*.deb | head -n 1)
[ -f "$DEB" ] || fail "no package in $BUILD/package"
echo "package: $DEB"

# Contents.
dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|' >"$WORK/list"
ID=org.quorvel.Quorvel
for f in /usr/bin/quorvel /usr/share/man/man1/quorvel.1.gz /usr/share/applications/$ID.desktop \
    /usr/share/metainfo/$ID.metainfo.xml /usr/share/bash-completion/completions/quorvel \
    /usr/share/icons/hicolor/scalable/apps/quorvel.svg /usr/share/icons/hicolor/48x48/apps/quorvel.png \
    /usr/share/icons/hicolor/256x256/apps/quorvel.png; do
    grep -qx "$f" "$WORK/list" || fail "$f is not in the package"
done
if grep -E '^/usr/(include|lib)/|/test_|/bench_' "$WORK/list"; then fail "the package holds files of the build"; fi

# Dependencies, as dpkg-shlibdeps found them from the binary.
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "depends: $DEPENDS"
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6svg6 libcfitsio; do
    echo "$DEPENDS" | grep -q "$lib" || fail "Depends lacks $lib"
done

# Metadata, validated as distributions validate it.
dpkg-deb -x "$DEB" "$WORK/root"
R="$WORK/root"
desktop-file-validate "$R/usr/share/applications/$ID.desktop" || fail "desktop entry"
grep -qx 'Categories=Science;Astronomy;' "$R/usr/share/applications/$ID.desktop" || fail "desktop categories"
appstreamcli validate --no-net "$R/usr/share/metainfo/$ID.metainfo.xml" || fail "AppStream metadata"
zcat "$R/usr/share/man/man1/quorvel.1.gz" >"$WORK/quorvel.1"
groff -ww -man -Tutf8 -z "$WORK/quorvel.1" 2>"$WORK/groff.err"
[ ! -s "$WORK/groff.err" ] || { cat "$WORK/groff.err" >&2; fail "the manual page renders with warnings"; }
bash -n "$R/usr/share/bash-completion/completions/quorvel" || fail "completion script"

# Every command and option of `quorvel --help` in the manual page and the completion.
"$BUILD/quorvel" --help >"$WORK/help"
sed -n 's/^ *\(usage: \)\{0,1\}quorvel \([a-z][a-z]*\) .*/\2/p' "$WORK/help" | sort -u >"$WORK/commands"
[ "$(wc -l <"$WORK/commands")" -ge 8 ] || fail "too few commands read from --help"
while read -r c; do
    grep -q "^\.SS $c\$" "$WORK/quorvel.1" || fail "the manual page has no section for '$c'"
    grep -q "$c" "$R/usr/share/bash-completion/completions/quorvel" || fail "completion lacks '$c'"
    for o in $(grep -E "^ *(usage: )?quorvel $c " "$WORK/help" | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$(echo "$o" | sed 's/-/\\\\-/g')" "$WORK/quorvel.1" || fail "the manual page lacks $c $o"
        grep -q -- "$o" "$R/usr/share/bash-completion/completions/quorvel" || fail "completion lacks $c $o"
    done
done <"$WORK/commands"
echo "contents, dependencies, desktop entry, AppStream, manual page and completion: ok"

# Installed, run and removed as a user would.
if [ "$(id -u)" -ne 0 ]; then
    echo "package test: install skipped: apt-get install needs root (CI runs as root)"
    exit 77
fi
if dpkg-query -W -f='${Status}' quorvel 2>/dev/null | grep -q "ok installed"; then
    echo "package test: install skipped: a quorvel package is already installed on this machine; left as it is"
    exit 77
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q "$DEB" >"$WORK/install.log" 2>&1 || { cat "$WORK/install.log" >&2; fail "apt-get install"; }
removed=0
remove() {
    [ $removed -eq 1 ] && return 0
    removed=1
    apt-get remove -y -q quorvel >"$WORK/remove.log" 2>&1
}
trap 'remove; rm -rf "$WORK"' EXIT

/usr/bin/quorvel --version | grep -Eq '^quorvel [0-9.]+ \(build [0-9a-f]{12}(-modified)?\)$' || fail "quorvel --version"
man -w quorvel >/dev/null || fail "man quorvel finds no page"
mkdir "$WORK/empty"
(cd "$WORK/empty" && env -u DISPLAY QT_QPA_PLATFORM=offscreen /usr/bin/quorvel guide --seconds 10 >"$WORK/run.out" 2>"$WORK/run.err") ||
    { cat "$WORK/run.err" >&2; fail "the installed quorvel guide"; }
grep -q '"summary":true' "$WORK/run.out" || fail "no summary from the installed quorvel guide"
grep -q '"cycles":[1-9]' "$WORK/run.out" || fail "the installed quorvel guided no cycle"
[ -f "$WORK/empty/qv185.dat" ] || fail "the settings were not saved in the current directory"
echo "installed: $(/usr/bin/quorvel --version); $(tail -n 1 "$WORK/run.out")"

remove || { cat "$WORK/remove.log" >&2; fail "apt-get remove"; }
state=$(dpkg-query -W -f='${db:Status-Status}' quorvel 2>/dev/null || true)
[ -z "$state" ] || [ "$state" = not-installed ] || fail "quorvel is left in dpkg's state '$state'"
while read -r f; do
    case $f in */) continue ;; esac
    [ ! -e "$f" ] || fail "$f is left after apt-get remove"
done <"$WORK/list"
echo "installed, ran and removed: ok"
