#!/usr/bin/env bash
# Builds xdg-desktop-portal-wlr from Debian's source package with the change in
# portal-backend-shm.patch, into $1 (once: a binary already there is kept).
# Debian 12's build refuses to screen-cast without DMA-BUF, which a compositor
# drawing with pixman (no GPU) never offers; the change lets shared memory do.
# The source comes through a private apt configuration, so the system's
# sources stay as they are.
set -euo pipefail
out=$1
here=$(cd "$(dirname "$0")" && pwd)
binary=$out/xdg-desktop-portal-wlr
[ -x "$binary" ] && exit 0
work=$out/work
rm -rf "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
    "http://deb.debian.org/debian bookworm main" > "$work/apt/sources.list"
apt=(apt-get -qq -o "Dir::Etc::SourceList=$work/apt/sources.list"
    -o Dir::Etc::SourceParts=/dev/null -o "Dir::State::Lists=$work/apt/lists"
    -o "Dir::Cache=$work/apt/cache" -o APT::Sandbox::User=root)
"${apt[@]}" update
cd "$work"
"${apt[@]}" source xdg-desktop-portal-wlr >/dev/null 2>&1
cd xdg-desktop-portal-wlr-*/
patch -s -p1 < "$here/portal-backend-shm.patch"
meson setup build -Dman-pages=disabled -Dsd-bus-provider=libsystemd >/dev/null
ninja -C build >/dev/null
cp build/xdg-desktop-portal-wlr "$binary.part"
mv "$binary.part" "$binary"
rm -rf "$work"
