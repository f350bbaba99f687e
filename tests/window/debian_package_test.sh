#!/bin/sh
# Makes the Debian package with CPack from a build tree, checks that it holds both programs and
# what the desktop needs, installs it into a throwaway root with dpkg, runs the installed
# converter, removes the package again leaving nothing, and runs lintian over it.
# Skipped (77) where dpkg-deb is missing, and after the other checks where lintian is.
# Arguments: cpack, the build tree, the source tree.
set -eu
cpack=$1
build=$2
source=$3
# dpkg looks for ldconfig and start-stop-daemon, which a user's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin
export PATH
command -v dpkg-deb >/dev/null || {
    echo "dpkg-deb is not installed: the package is not checked"
    exit 77
}
work=$(mktemp -d "${TMPDIR:-/tmp}/greyplanes-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
    echo "$*" >&2
    exit 1
}

(cd "$work" && "$cpack" -G DEB -B "$work" --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || {
    cat "$work/cpack.log"
    exit 1
}
deb=$(ls "$work"/greyplanes_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
icons=/usr/share/icons/hicolor
for file in /usr/bin/greyplanes /usr/bin/greyplanes-cli \
    /usr/share/man/man1/greyplanes.1.gz /usr/share/man/man1/greyplanes-cli.1.gz \
    /usr/share/applications/greyplanes.desktop \
    /usr/share/metainfo/io.github.greyplanes.metainfo.xml \
    /usr/libexec/greyplanes/greyplanes-pictures.so /usr/lib/cmake/greyplanes/greyplanesConfig.cmake \
    /usr/lib/cmake/greyplanes/greyplanesTargets.cmake \
    /usr/share/doc/greyplanes/copyright /usr/share/doc/greyplanes/changelog.gz \
    $icons/scalable/apps/greyplanes.svg; do
    grep -qx "$file" "$work/contents" || fail "the package lacks $file"
done
for size in 16 24 32 48 64 128 256; do
    grep -qx "$icons/${size}x$size/apps/greyplanes.png" "$work/contents" ||
        fail "the package lacks the ${size}x$size icon"
done
# The desktop entry names the icon that the package installs.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/greyplanes.desktop |
    grep -qx 'Icon=greyplanes' || fail "the desktop entry does not name the greyplanes icon"

# The changelog's latest entry is this version, which a new version must not forget.
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/greyplanes/changelog.gz | gzip -dc |
    head -n 1 | grep -q "^greyplanes ($version) " ||
    fail "packaging/changelog does not start with an entry for version $version"

# A throwaway root with an empty dpkg database (this works without root too); the
# dependencies are those of this machine.
if command -v dpkg >/dev/null; then
    root="$work/root"
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
    : >"$root/var/lib/dpkg/status"
    dpkg="dpkg --root=$root --force-depends --force-not-root --force-script-chrootless"
    $dpkg -i "$deb" >"$work/install.log" 2>&1 || {
        cat "$work/install.log"
        exit 1
    }
    "$root/usr/bin/greyplanes-cli" --version >/dev/null ||
        fail "the installed greyplanes-cli does not run"
    # A picture that is not a bitmap needs the converter's picture module, found where it is
    # installed.
    "$root/usr/bin/greyplanes-cli" -q -o "$work/png.h" "$source/tests/data/fuzz/png_palette4.png" ||
        fail "the installed greyplanes-cli does not read a PNG picture"
    $dpkg -r greyplanes >"$work/remove.log" 2>&1 || {
        cat "$work/remove.log"
        exit 1
    }
    left=$(find "$root" -path "$root/var" -prune -o ! -path "$root" -print)
    [ -z "$left" ] || fail "dpkg -r left behind: $left"
fi

command -v lintian >/dev/null || {
    echo "lintian is not installed: the package's contents are checked, lintian is skipped"
    exit 77
}
# A tree built with Debian's hardening flags, as scripts/package.sh builds it, leaves lintian
# nothing to say even pedantically; another one lacks the hardening that only those flags bring,
# and must only be free of errors and warnings.
levels=error,warning
if grep -q '^CMAKE_MODULE_LINKER_FLAGS:.*-z,now' "$build/CMakeCache.txt"; then
    levels=error,warning,info,pedantic
fi
status=0
lintian --display-info --pedantic --fail-on "$levels" "$deb" >"$work/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
exit $status
