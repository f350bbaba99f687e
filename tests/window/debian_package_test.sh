#!/bin/sh
# Makes the Debian package with CPack, checks that it holds both programs and what the desktop
# needs, installs it into a throwaway root with dpkg and removes it again, leaving nothing;
# runs lintian where it is installed. Skipped (77) where dpkg-deb or cpack is missing.
# Arguments: cpack, the build tree.
set -eu
cpack=$1
build=$2
command -v dpkg-deb >/dev/null || exit 77
work=$(mktemp -d "${TMPDIR:-/tmp}/greyplanes-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT

(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    exit 1
}
deb=$(ls "$work"/greyplanes_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
for file in /usr/bin/greyplanes /usr/bin/greyplanes-cli \
    /usr/share/man/man1/greyplanes.1.gz /usr/share/man/man1/greyplanes-cli.1.gz \
    /usr/share/applications/greyplanes.desktop \
    /usr/share/metainfo/io.github.greyplanes.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/greyplanes.svg \
    /usr/share/icons/hicolor/48x48/apps/greyplanes.png \
    /usr/share/icons/hicolor/256x256/apps/greyplanes.png \
    /usr/lib/cmake/greyplanes/greyplanesConfig.cmake /usr/share/doc/greyplanes/copyright; do
    grep -qx "$file" "$work/contents" || {
        echo "the package lacks $file" >&2
        exit 1
    }
done
# The desktop entry names the icon that the package installs.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/greyplanes.desktop |
    grep -qx 'Icon=greyplanes' || {
    echo "the desktop entry does not name the greyplanes icon" >&2
    exit 1
}

if command -v dpkg >/dev/null; then
    root="$work/root"
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
    : >"$root/var/lib/dpkg/status"
    dpkg="dpkg --root=$root --force-depends --force-not-root --force-script-chrootless"
    if $dpkg -i "$deb" >"$work/install.log" 2>&1; then
        test -x "$root/usr/bin/greyplanes-cli" || {
            echo "dpkg -i did not install greyplanes-cli" >&2
            exit 1
        }
        $dpkg -r greyplanes >"$work/remove.log" 2>&1 || {
            cat "$work/remove.log"
            exit 1
        }
        left=$(find "$root" -path "$root/var" -prune -o -type f -print)
        if [ -n "$left" ]; then
            echo "dpkg -r left files behind: $left" >&2
            exit 1
        fi
    else
        echo "note: dpkg cannot install into a throwaway root here:" >&2
        cat "$work/install.log" >&2
    fi
fi

if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb"
fi
