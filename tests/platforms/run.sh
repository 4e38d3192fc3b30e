#!/usr/bin/env bash
# Kelp built for FreeBSD 14, FreeBSD 15 and illumos through its own
# CMakeLists.txt, with warnings as errors, against the cross-build kit: the
# systems' real headers and stand-ins of their libraries, so a build that
# links here uses no name those libraries lack. Nothing is run there. Each
# tree is installed into a stage, where its system's service file must be,
# and that file is checked.
#
#   tests/platforms/run.sh KIT BUILD_DIR [JOBS]
#
# Prints one line per target and "N passed, M failed"; fails on any failure.
set -u
kit=$(cd "$1" 2>/dev/null && pwd || echo "$1") shown=$2 jobs=${3:-2}
mkdir -p "$2" && out=$(cd "$2" && pwd) || exit 1
src=$(cd "$(dirname "$0")/../.." && pwd)
# The host's search paths must not reach the target's compile and link.
unset LIBRARY_PATH CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH CXXFLAGS LDFLAGS

# target | what file(1) says of its Kelp | its service file below the stage
targets=(
  "freebsd14|version 1 \(FreeBSD\), .*interpreter /libexec/ld-elf\.so\.1, for FreeBSD 14\.|usr/local/etc/rc.d/kelp"
  "freebsd15|version 1 \(FreeBSD\), .*interpreter /libexec/ld-elf\.so\.1, for FreeBSD 15\.|usr/local/etc/rc.d/kelp"
  "illumos|version 1 \(Solaris\), .*interpreter /usr/lib/amd64/ld\.so\.1|var/svc/manifest/site/kelp.xml"
)

# The kit's symbolic links (libc.so -> ../../lib/libc.so.7, ...) may arrive
# as small files holding the name they point to, from a copy or a checkout
# that does not keep links, and ld.lld cannot read those. Kelp is built
# against a tree of links to the kit in which they are links again; the kit
# itself is left as it is.
sysroots() {
  local f to
  rm -rf "$out/kit" && mkdir -p "$out/kit" && cp -rs "$kit/." "$out/kit/" &&
    find "$out/kit" -type d -exec chmod u+w {} + || return 1
  find "$kit" -type f -size -200c | while read -r f; do
    to=$(cat "$f")
    case $to in '' | *[!A-Za-z0-9_./+-]*) continue ;; esac
    [ -f "$(dirname "$f")/$to" ] && ln -sfn "$to" "$out/kit/${f#"$kit"/}"
  done
}

# Why a step failed, from its output: the names a link misses, or the first
# error, without the build's paths.
why() {
  local output missing
  output=$(cat)
  missing=$(grep -o 'undefined symbol: .*' <<<"$output" | cut -d' ' -f3 | sort -u | paste -sd' ' -)
  if [ -n "$missing" ]; then echo "undefined symbols: $missing"; return; fi
  { grep -m1 -E 'error|SC[0-9]{4}' <<<"$output" || tail -n1 <<<"$output"; } |
    sed -e "s|$out/[a-z0-9]*/stage||" -e "s|$src/||"
}

# step <what> <command...>: runs the command into the target's log and says
# why it failed.
step() {
  local what=$1 output status
  shift
  output=$("$@" 2>&1)
  status=$?
  echo "$output" >>"$log"
  [ "$status" = 0 ] || { echo "failed: $what: $(why <<<"$output") (log: $shown/$t.log)"; return 1; }
}

# A service file as far as this machine can check it.
check_service() {
  case $1 in
    *.xml) xmllint --noout --nonet --dtdvalid "$kit/illumos/usr/share/lib/xml/dtd/service_bundle.dtd.1" "$1" ;;
    *) sh -n "$1" && shellcheck -s sh -f gcc "$1" ;;
  esac
}

check() {
  local t=$1 elf=$2 service=$3 tree="$out/$1" log="$out/$1.log" file
  [ -d "$kit/$t/usr/include" ] || { echo "failed: no $t sysroot in $kit, the cross-build kit is absent"; return 1; }
  [ -d "$out/kit/$t" ] || { echo "failed: could not make its sysroot in $shown/kit"; return 1; }
  rm -rf "$log" "$tree/stage"
  step configure cmake -S "$src" -B "$tree" --toolchain "$src/cmake/platforms/$t.cmake" \
    -DKELP_PLATFORMS="$out/kit" -DKELP_TESTS=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON || return 1
  step build cmake --build "$tree" -j "$jobs" --target Kelp || return 1
  file=$(file -b "$tree/Kelp")
  grep -Eq "$elf" <<<"$file" || { echo "failed: not a $t program: $file"; return 1; }
  step install env DESTDIR="$tree/stage" cmake --install "$tree" --prefix /usr/local || return 1
  [ -f "$tree/stage/$service" ] || { echo "failed: install put no /$service in place"; return 1; }
  [ ! -e "$tree/stage/usr/local/lib/systemd" ] || { echo "failed: install put a systemd unit in place"; return 1; }
  step "service file" check_service "$tree/stage/$service" || return 1
  echo "passed: $(grep -Eo 'FreeBSD|Solaris' <<<"$file" | head -n1) ELF," \
    "$(grep -Eo 'interpreter [^,]*(, for FreeBSD [0-9.]+)?' <<<"$file"); /$service checked"
}

passed=0 failed=0
[ -d "$kit" ] && sysroots
for row in "${targets[@]}"; do
  IFS='|' read -r t elf service <<<"$row"
  if line=$(check "$t" "$elf" "$service"); then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  echo "$t: $line"
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
