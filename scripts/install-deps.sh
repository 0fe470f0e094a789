#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing.
# Usage: scripts/install-deps.sh [base|dev|package]
#   dev adds clang, fuzzing, benchmarks and their peers and Xvfb for whole-app runs;
#   package adds what the Debian package is made with.
set -euo pipefail

base=(g++ cmake ninja-build pkg-config nlohmann-json3-dev libplist-dev libicu-dev libsystemd-dev
      libssl-dev openssl systemd googletest libgtest-dev libgmock-dev qt6-base-dev qt6-svg-dev)
dev=(clang libclang-rt-14-dev clang-format clang-tidy libbenchmark-dev lm-sensors hyperfine xvfb
     dbus-daemon jq valgrind)
package=(dpkg-dev file)

wanted=("${base[@]}")
case "${1:-base}" in
  dev) wanted+=("${dev[@]}") ;;
  package) wanted+=("${package[@]}") ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# Set on the command, not exported: sudo resets the environment.
as_root=(env DEBIAN_FRONTEND=noninteractive)
[ "$(id -u)" -eq 0 ] || as_root=(sudo "${as_root[@]}")
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
