#!/usr/bin/env bash
# Builds the Debian package and checks it as a reviewer and a new user would: lintian, the
# AppStream and desktop-entry validators, then an install into a fresh Debian 12 minbase
# chroot, where an ordinary user prints a snapshot and starts the app under Xvfb for five
# seconds. Not part of CI: it needs root, a Debian mirror and some minutes.
#   scripts/package-check.sh [mirror]
set -euo pipefail
cd "$(dirname "$0")/.."
mirror=${1:-http://deb.debian.org/debian}
step() { printf '\n== %s\n' "$*"; }

step "package"
./dev package >/dev/null
deb=$(ls build-package/corvane-plugin_*.deb)
ls -l "$deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  lintian appstream desktop-file-utils debootstrap >/dev/null

step "lintian --info --display-info --pedantic"
lintian --info --display-info --pedantic "$deb" && echo "no tags"

contents=$(mktemp -d)
chroot=$(mktemp -d /tmp/corvane-chroot-XXXXXX)
chmod 755 "$chroot" # its root, which every user of it walks through
cleanup() {
  for mount in dev/pts dev sys proc; do umount -l "$chroot/$mount" 2>/dev/null || true; done
  rm -rf "$contents" "$chroot"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$contents"
step "appstreamcli validate --pedantic"
appstreamcli validate --pedantic --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
step "desktop-file-validate"
desktop-file-validate "$contents"/usr/share/applications/*.desktop && echo "valid"
step "manual pages"
for page in "$contents"/usr/share/man/man1/*.1.gz; do
  zcat "$page" | groff -ww -z -man && echo "$(basename "$page"): no warnings"
done

step "debootstrap --variant=minbase bookworm"
debootstrap --variant=minbase bookworm "$chroot" "$mirror" >/dev/null
mount -t proc proc "$chroot/proc"
mount --rbind /sys "$chroot/sys"
mount --bind /dev "$chroot/dev"
mount --bind /dev/pts "$chroot/dev/pts"
install -m 644 "$deb" "$chroot/tmp/" # readable by apt's own user
in_chroot() { chroot "$chroot" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
in_chroot apt-get update -q >/dev/null
step "apt install ./$(basename "$deb")"
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
  "/tmp/$(basename "$deb")" xvfb xauth | tail -3
in_chroot useradd -m person

step "CorvanePluginAgent --snapshot, as an ordinary user"
in_chroot su person -c /usr/lib/corvane-plugin/CorvanePlugin.app/Contents/MacOS/CorvanePluginAgent\ --snapshot

step "corvane-plugin under Xvfb for five seconds, as an ordinary user"
status=0
in_chroot su person -c 'timeout 5 xvfb-run -a corvane-plugin' || status=$?
if [ "$status" -eq 124 ]; then echo "still running after five seconds: stopped"; else
  echo "ended early with status $status"; exit 1; fi
