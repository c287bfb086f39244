#!/usr/bin/env bash
# Sets up 32-bit Wine under qemu-i386 user-mode emulation, so that the win32
# build's test programs run on this 64-bit-only host. Idempotent and cached:
# when everything is in place it checks a stamp and exits at once, silently.
#   setup-wine32.sh
# Exits non-zero, naming exactly what is missing, when it cannot set up.
#
# Never installs the wine32:i386 package (that turns /usr/bin/wine into the
# 32-bit loader and breaks 64-bit prefixes). Instead:
#   - the system gets the i386 architecture and libwine:i386 (the 32-bit Wine
#     libraries, at the version of the installed 64-bit Wine);
#   - qemu-user comes from <codename>-backports through a private apt
#     configuration under the cache (Debian 12's own qemu 7.2 ignores
#     MAP_FIXED_NOREPLACE and Wine then burns ~40 s of CPU per process);
#   - wine32:i386 is downloaded, not installed, and unpacked into a private
#     root whose wine-preloader is a script running the loader under qemu-i386.
#
# The cache ($GLINTMARK_WINE32_CACHE, default .cache/wine32 in the work tree):
#   root/usr/lib/wine/wine            the 32-bit loader, from wine32:i386
#   root/usr/lib/wine/wine-preloader  exports WINELOADERNOEXEC=1, execs qemu-i386
#   root/usr/bin/qemu-i386            the statically linked emulator
#   root/usr/lib/i386-linux-gnu       -> /usr/lib/i386-linux-gnu (libwine:i386)
#   root/usr/share/wine               -> /usr/share/wine
#   apt/                              the private apt configuration and lists
#   ready                             stamp: the versions set up
set -u
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${GLINTMARK_WINE32_CACHE:-$repo/.cache/wine32}
root=$cache/root
log=$cache/setup.log

say() { echo "setup-wine32: $*" >&2; }
die() { say "$*"; say "cannot run the 32-bit Windows tests until this is fixed"; exit 1; }

[ "$(dpkg --print-architecture 2>/dev/null)" = amd64 ] ||
  die "needs a Debian amd64 host (dpkg reports '$(dpkg --print-architecture 2>/dev/null)')"
[ -x /usr/lib/wine/wineserver64 ] ||
  die "missing: the 64-bit wine server /usr/lib/wine/wineserver64 (package wine64; run scripts/install-deps.sh)"
installed_version() { dpkg-query -W -f='${db:Status-Abbrev}${Version}' "$1" 2>/dev/null | sed -n 's/^ii *//p'; }
wine_version=$(installed_version libwine:amd64)
[ -n "$wine_version" ] || die "missing: package libwine:amd64 (run scripts/install-deps.sh)"

# The root is complete and matches the installed Wine: nothing to do.
ready() {
  [ "$(cat "$cache/ready" 2>/dev/null)" = "wine $wine_version" ] &&
    [ "$(installed_version libwine:i386)" = "$wine_version" ] &&
    [ -x "$root/usr/bin/qemu-i386" ] && [ -x "$root/usr/lib/wine/wine" ] &&
    [ -x "$root/usr/lib/wine/wine-preloader" ] &&
    [ -d "$root/usr/lib/i386-linux-gnu/wine/i386-unix" ] && [ -d "$root/usr/share/wine" ]
}
ready && exit 0

mkdir -p "$cache" || die "cannot create the cache folder $cache"
exec 9>"$cache.lock"
flock 9
ready && exit 0
start=$SECONDS
: >"$log"

# run DESCRIPTION COMMAND...: runs a step with its output in the log; on
# failure names the step and shows the end of the log.
run() {
  local what=$1; shift
  echo "+ $*" >>"$log"
  if ! "$@" >>"$log" 2>&1 </dev/null; then
    tail -15 "$log" | sed 's/^/  | /' >&2
    die "failed: $what (full log: $log)"
  fi
}

# A mirror in the middle of its sync, or a proxy keeping an old copy, serves
# an index file that does not match its Release file ("File has unexpected
# size ... Mirror sync in progress?"), and apt-get update fails on that one
# list while the others come. Tried three times, a minute apart.
retried() {
  local attempt
  for attempt in 1 2 3; do
    "$@" && return 0
    [ "$attempt" -eq 3 ] || { echo "(failed; again in 60 s)"; sleep 60; }
  done
  return 1
}

# apt-get update for PACKAGE at Wine's version: a failed update is fatal only
# when the package's own list did not come (Wine's i386 packages are in
# bookworm's main list; a failed security list does not keep them away).
update_lists_for() {
  echo "+ apt-get update (for $1=$wine_version)" >>"$log"
  retried apt-get update -o DPkg::Lock::Timeout=600 >>"$log" 2>&1 </dev/null && return 0
  if apt-cache madison "$1" 2>/dev/null | grep -qF " $wine_version "; then
    echo "(some list failed, but $1=$wine_version is listed: going on)" >>"$log"
    return 0
  fi
  tail -15 "$log" | sed 's/^/  | /' >&2
  die "failed: apt-get update (full log: $log)"
}

is_root() { [ "$(id -u)" -eq 0 ]; }
export DEBIAN_FRONTEND=noninteractive

# 1. The system side: i386 architecture and libwine:i386 at Wine's version.
missing=()
dpkg --print-foreign-architectures | grep -qx i386 || missing+=("the i386 architecture (dpkg --add-architecture i386)")
[ "$(installed_version libwine:i386)" = "$wine_version" ] || missing+=("package libwine:i386=$wine_version")
if [ ${#missing[@]} -gt 0 ]; then
  is_root || die "missing, and installing needs root: $(printf '%s; ' "${missing[@]}" | sed 's/; $//')"
  dpkg --print-foreign-architectures | grep -qx i386 || run "dpkg --add-architecture i386" dpkg --add-architecture i386
  if [ -z "$(apt-cache madison libwine:i386 2>/dev/null | grep -F " $wine_version ")" ]; then
    update_lists_for libwine:i386
  fi
  run "install libwine:i386=$wine_version" apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=600 "libwine:i386=$wine_version"
fi

# 2. The private apt configuration: only <codename>-backports, from the same
# mirror as the system's own Debian source.
apt_dir=$cache/apt
private_apt() {
  apt-get -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts="$apt_dir/sources.list.d" \
    -o Dir::Etc::Preferences="$apt_dir/preferences" -o Dir::Etc::PreferencesParts="$apt_dir/preferences.d" \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::State::status="$apt_dir/status" \
    -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root "$@"
}
work=$(mktemp -d "$cache/work.XXXXXX") || die "cannot create a work folder in $cache"
trap 'rm -rf "$work"' EXIT
cd "$work" || die "cannot enter $work"   # apt-get download saves into the current folder

if ! [ -x "$root/usr/bin/qemu-i386" ]; then
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || die "cannot tell the Debian codename from /etc/os-release"
  mirror=$(apt-get indextargets --format '$(REPO_URI)' "Codename: $codename" 'Origin: Debian' \
    'Identifier: Packages' 2>/dev/null | head -1)
  [ -n "$mirror" ] || die "missing: a Debian '$codename' source in the system's apt configuration (to find the mirror for $codename-backports)"
  keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  mkdir -p "$apt_dir"/{lists/partial,cache/archives/partial,sources.list.d,preferences.d}
  : >"$apt_dir/status"
  echo "deb ${keyring:+[signed-by=$keyring] }$mirror $codename-backports main" >"$apt_dir/sources.list"
  [ -f "$keyring" ] || sed -i 's/\[signed-by=[^]]*\] //' "$apt_dir/sources.list"
  run "apt-get update of $codename-backports" retried private_apt update
  run "download qemu-user from $codename-backports" private_apt download qemu-user
  deb=$(ls "$work"/qemu-user_*.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || die "missing: package qemu-user in $codename-backports"
  mkdir -p "$work/qemu"
  # Only the one emulator out of the package's 370 MB.
  run "unpack usr/bin/qemu-i386 from $deb" \
    sh -c 'dpkg-deb --fsys-tarfile "$1" | tar -xf - -C "$2" ./usr/bin/qemu-i386' sh "$deb" "$work/qemu"
  [ -x "$work/qemu/usr/bin/qemu-i386" ] || die "missing: usr/bin/qemu-i386 in $(basename "$deb")"
  mkdir -p "$root/usr/bin"
  mv "$work/qemu/usr/bin/qemu-i386" "$root/usr/bin/qemu-i386"
  rm -rf "$work/qemu" "$deb"
fi
"$root/usr/bin/qemu-i386" --version >>"$log" 2>&1 || die "the emulator $root/usr/bin/qemu-i386 does not run"

# 3. wine32:i386, downloaded at the version of libwine:i386 and unpacked.
if [ "$(cat "$cache/ready" 2>/dev/null)" != "wine $wine_version" ] || ! [ -x "$root/usr/lib/wine/wine" ]; then
  if [ -z "$(apt-cache madison wine32:i386 2>/dev/null | grep -F " $wine_version ")" ]; then
    is_root || die "missing: package wine32:i386=$wine_version in the apt lists, and 'apt-get update' needs root"
    update_lists_for wine32:i386
  fi
  run "download wine32:i386=$wine_version" apt-get download -o APT::Sandbox::User=root "wine32:i386=$wine_version"
  deb=$(ls "$work"/wine32_*_i386.deb 2>/dev/null | head -1)
  [ -n "$deb" ] || die "missing: package wine32:i386=$wine_version"
  mkdir -p "$work/wine32"
  run "unpack $deb" dpkg-deb -x "$deb" "$work/wine32"
  [ -x "$work/wine32/usr/lib/wine/wine" ] || die "missing: usr/lib/wine/wine in $(basename "$deb")"
  rm -rf "$root/usr/lib/wine"
  mkdir -p "$root/usr/lib" "$root/usr/share"
  mv "$work/wine32/usr/lib/wine" "$root/usr/lib/wine"
  rm -rf "$work/wine32" "$deb"
fi
ln -sfn /usr/lib/i386-linux-gnu "$root/usr/lib/i386-linux-gnu"
ln -sfn /usr/share/wine "$root/usr/share/wine"
# Wine starts every process, children too, through the preloader beside the
# loader: this one hands the loader to the emulator.
cat >"$root/usr/lib/wine/wine-preloader" <<'EOF'
#!/bin/sh
# Runs the 32-bit Wine loader given as $1 under qemu-i386.
export WINELOADERNOEXEC=1
exec "${0%/*}/../../bin/qemu-i386" "$@"
EOF
chmod +x "$root/usr/lib/wine/wine-preloader"

# 4. The loader must start under the emulator (--version is answered only
# on the first pass, without WINELOADERNOEXEC).
version=$(env -u WINELOADERNOEXEC "$root/usr/bin/qemu-i386" "$root/usr/lib/wine/wine" --version 2>>"$log")
[ "${version#wine-}" != "$version" ] || die "the 32-bit Wine loader does not start under qemu-i386 (see $log)"

echo "wine $wine_version" >"$cache/ready"
say "32-bit Wine $wine_version under $("$root/usr/bin/qemu-i386" --version | head -1) set up in $((SECONDS - start)) s"
