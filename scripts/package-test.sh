#!/usr/bin/env bash
# Builds the two Debian packages from a configured build folder, checks their contents and
# dependencies, runs lintian, and installs both with apt-get into a fresh Debian root made with
# debootstrap, where the programs must start.
# Usage: scripts/package-test.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out="$build/packages"

rm -rf "$out"
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G DEB -B "$PWD/packages" >/dev/null)
client=$(ls "$out"/tallyport-submit_*.deb)
server=$(ls "$out"/tallyport-server_*.deb)
echo "built: $(basename "$client") $(basename "$server")"

fail=0
expect_file() { # package, path
  if ! dpkg-deb -c "$1" | awk '{print $6}' | grep -qx "./$2"; then
    echo "FAIL: $(basename "$1") lacks $2"; fail=1
  fi
}
expect_depends() { # package, dependency
  if ! dpkg-deb -f "$1" Depends | tr ',' '\n' | grep -q "^ *$2\b"; then
    echo "FAIL: $(basename "$1") does not depend on $2"; fail=1
  fi
}

for f in usr/bin/tallyport-submit usr/share/applications/tallyport-submit.desktop \
         usr/share/icons/hicolor/scalable/apps/tallyport-submit.svg \
         usr/share/icons/hicolor/48x48/apps/tallyport-submit.png \
         usr/share/man/man1/tallyport-submit.1.gz usr/share/doc/tallyport-submit/copyright usr/share/doc/tallyport-submit/changelog.gz; do
  expect_file "$client" "$f"
done
for f in usr/bin/tallyport-server usr/lib/systemd/system/tallyport-server.service \
         usr/share/man/man1/tallyport-server.1.gz usr/share/doc/tallyport-server/copyright \
         usr/share/tallyport-server/web/index.html usr/share/tallyport-server/web/mark.js \
         usr/share/tallyport-server/web/style.css; do
  expect_file "$server" "$f"
done
for d in libqt6widgets6 libc6 libstdc++6 fonts-liberation2; do expect_depends "$client" "$d"; done
for d in libsqlite3-0 libc6 adduser libssl3 libcrypt1; do expect_depends "$server" "$d"; done
if dpkg-deb -c "$server" | grep -q 'libQt6'; then echo "FAIL: the server package carries Qt"; fail=1; fi
if dpkg-deb -f "$server" Depends | grep -q 'libqt6'; then echo "FAIL: the server depends on Qt"; fail=1; fi
desktop-file-validate packaging/tallyport-submit.desktop 2>/dev/null || command -v desktop-file-validate >/dev/null || true

echo "== lintian"
lintian --no-tag-display-limit --suppress-tags-from-file packaging/debian/lintian-accepted \
  "$client" "$server" | tee "$out/lintian.txt" || true
if grep -q '^E:' "$out/lintian.txt"; then echo "FAIL: lintian errors"; fail=1; fi

echo "== apt-get install into a fresh Debian root"
root=$(mktemp -d /tmp/tallyport-root-XXXXXX)
cleanup() { umount "$root/proc" 2>/dev/null || true; rm -rf "$root"; }
trap cleanup EXIT
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
debootstrap --variant=minbase bookworm "$root" "${mirror:-http://deb.debian.org/debian}" >"$out/debootstrap.log" 2>&1 \
  || { tail -n 20 "$out/debootstrap.log"; echo "FAIL: debootstrap"; exit 1; }
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
cp "$client" "$server" "$root/tmp/"
chroot "$root" apt-get update -qq
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "/tmp/$(basename "$client")" "/tmp/$(basename "$server")" >"$out/install.log" 2>&1 \
  || { tail -n 30 "$out/install.log"; echo "FAIL: apt-get install"; exit 1; }
chroot "$root" tallyport-server --version
chroot "$root" getent passwd tallyport >/dev/null || { echo "FAIL: no tallyport user"; fail=1; }
chroot "$root" tallyport-server demo --db /tmp/demo.db >/dev/null || { echo "FAIL: demo database"; fail=1; }
if chroot "$root" ldd /usr/bin/tallyport-submit | grep -q 'not found'; then
  echo "FAIL: the client misses libraries"; fail=1
fi
[ "$fail" -eq 0 ] && echo "packages: all checks passed"
exit "$fail"
