#!/usr/bin/env bash
# The station as the Debian package installs it.
#   package_test.sh make BUILD   CPack makes the package; it is extracted (dpkg-deb -x) into
#                                BUILD/package-test/root and its contents checked
#   package_test.sh run BUILD    a station made there with the installed tavolin-new-station, run
#                                with the command line and environment of the installed unit until
#                                "ArrayOk.txt", one check-in answered, stopped with SIGTERM
#   package_test.sh unit BUILD   systemd-analyze verify and security on the installed unit (exit 77:
#                                skipped), and postrm purge leaving no enabled instance
# Test photographs: $TAVO_TESTDATA, or ../shared/testdata beside the checkout.
set -euo pipefail

mode=${1:?usage: package_test.sh make|run|unit BUILD}
build=$(cd "${2:?usage: package_test.sh make|run|unit BUILD}" && pwd)
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
testdata=${TAVO_TESTDATA:-$(cd "$src/.." && pwd)/shared/testdata}
work=$build/package-test
root=$work/root
ean=2200000169020

fail() { echo "FAIL: $*" >&2; exit 1; }
# expect_exit CODE CMD...: CMD ends with CODE.
expect_exit() {
  local want=$1 got=0
  shift
  "$@" >"$work/last.out" 2>&1 || got=$?
  [ "$got" -eq "$want" ] || { cat "$work/last.out" >&2; fail "$* exited $got, not $want"; }
}

make_package() {
  rm -rf "$work"
  mkdir -p "$work/out"
  cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack"; }
  local deb
  deb=$(ls "$work"/out/tavolin_*.deb)
  echo "package: $deb ($(du -h "$deb" | cut -f1))"
  dpkg-deb -x "$deb" "$root"
  dpkg-deb -e "$deb" "$work/control"

  # Libraries found by dpkg-shlibdeps, and the user set-up of the maintainer scripts.
  local depends
  depends=$(sed -n 's/^Depends: //p' "$work/control/control")
  echo "depends: $depends"
  for p in adduser qt6-qpa-plugins libqt6core6 libqt6widgets6 libsqlcipher0 libopencv-dnn libportaudio2 libsndfile1; do
    grep -q "\b$p" <<<"$depends" || fail "Depends lacks $p"
  done
  for s in postinst prerm postrm; do [ -x "$work/control/$s" ] || fail "no $s"; done
  grep -q 'adduser --system' "$work/control/postinst" || fail "postinst makes no system user"

  for p in tavolin tavolin-db tavolin-face tavolin-office tavolin-new-station; do
    [ -x "$root/usr/bin/$p" ] || fail "no /usr/bin/$p"
  done
  [ -f "$root/usr/lib/systemd/system/tavolin@.service" ] || fail "no unit"

  # The desktop work place: launcher, menu entry, autostart entry (a conffile). At a session's
  # start the launcher starts nothing for a user who has no station.
  [ -x "$root/usr/bin/tavolin-desktop" ] || fail "no /usr/bin/tavolin-desktop"
  for f in usr/share/applications/tavolin.desktop etc/xdg/autostart/tavolin.desktop; do
    [ -f "$root/$f" ] || fail "no /$f"
    if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$root/$f" || fail "/$f is no valid entry"; fi
  done
  grep -qx /etc/xdg/autostart/tavolin.desktop "$work/control/conffiles" || fail "the autostart entry is no conffile"
  HOME=$work/home XDG_DATA_HOME= TAVO_STATION_DIR= "$root/usr/bin/tavolin-desktop" --autostart || fail "tavolin-desktop --autostart"
  [ ! -e "$work/home" ] || fail "tavolin-desktop --autostart made a station"

  # The same networks, cascades, sounds and picture as a station of the build tree.
  bash "$src/scripts/new-station.sh" "$work/reference" "$build" >/dev/null
  diff -r "$work/reference/nets" "$root/usr/share/tavolin/nets" || fail "installed nets differ from scripts/new-station.sh"
  for f in "$work"/reference/*.xml "$work"/reference/*.wav "$work/reference/Image.jpg"; do
    local name
    name=$(basename "$f")
    cmp -s "$f" "$root/usr/share/tavolin/$name" || cmp -s "$f" "$root/usr/share/tavolin/cascades/$name" ||
      fail "$name is not installed as scripts/new-station.sh copies it"
  done
}

# The installed unit's Environment= and ExecStart=, for instance "test" in the extracted root.
unit_lines() {
  sed -n "s/^$1=//p" "$root/usr/lib/systemd/system/tavolin@.service" |
    sed -e "s|%i|test|g" -e "s|/var/lib/tavolin|$root/var/lib/tavolin|g" -e "s|/usr/bin/|$root/usr/bin/|g"
}

run_station() {
  [ -d "$root/usr/bin" ] || fail "no extracted package (the test package.Make comes first)"
  local clip=$testdata/clips/subj01_timepoint01.mp4 photo=$testdata/lfw10/Colin_Powell/Colin_Powell_0001.jpg
  [ -f "$clip" ] && [ -f "$photo" ] || fail "test photographs missing: $testdata (set TAVO_TESTDATA)"
  local bin=$root/usr/bin station=$root/var/lib/tavolin/test
  unset TAVO_NETS DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
  cd "$work"

  # Every program: the package's version, its help, and an unknown option as a usage error.
  local version
  version=$(sed -n 's/^Version: \(.*\)-[^-]*$/\1/p' "$work/control/control")
  for p in tavolin tavolin-db tavolin-face tavolin-office tavolin-new-station; do
    [ "$("$bin/$p" --version)" = "$p $version" ] || fail "$p --version: $("$bin/$p" --version)"
    grep -q "^usage: $p" <<<"$("$bin/$p" --help)" || fail "$p --help"
    expect_exit 2 "$bin/$p" --no-such-option
  done
  # The networks of the package, found beside the program.
  expect_exit 0 "$bin/tavolin-face" detect "$photo"

  # A station; made again, it keeps its database and settings.
  "$bin/tavolin-new-station" "$station" >/dev/null
  [ -L "$station/nets" ] && [ -f "$station/nets/face_recognition_model.bin" ] || fail "no nets in the station"
  [ "$(cat "$station/tavo.ini")" = "$(printf '[param]\r\nAntiSpoof=1\r')" ] || fail "a new station's tavo.ini: $(cat -A "$station/tavo.ini")"
  printf '[param]\r\nWebCam=%s\r\nSoundEnabled=0\r\n' "$clip" >"$station/tavo.ini"
  local before
  before=$(md5sum "$station/FaceBase.mdb" "$station/tavo.ini")
  "$bin/tavolin-new-station" "$station" >/dev/null
  [ "$(md5sum "$station/FaceBase.mdb" "$station/tavo.ini")" = "$before" ] || fail "a second tavolin-new-station changed the database or tavo.ini"

  # The station as the unit starts it.
  local -a environment command
  mapfile -t environment < <(unit_lines Environment)
  read -r -a command <<<"$(unit_lines ExecStart)"
  (cd "$station" && exec env "${environment[@]}" "${command[@]}" >"$work/stdout.log" 2>"$work/stderr.log") &
  local pid=$! flags=$station/drives/c/Face/Monitor
  for _ in $(seq 1 1200); do
    [ -e "$flags/ArrayOk.txt" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$work/stdout.log" "$work/stderr.log" >&2; fail "the station ended before ArrayOk.txt"; }
    sleep 0.1
  done
  [ -e "$flags/ArrayOk.txt" ] || { kill -KILL "$pid"; cat "$work/stdout.log" >&2; fail "no ArrayOk.txt in 120 s"; }

  # The office system asks for a barcode without models ("C:\Face\Monitor" as the station names it).
  local answer
  answer=$(env "${environment[@]}" "$bin/tavolin-office" checkin 'C:\Face\Monitor' "$ean" --timeout 120) ||
    { kill -KILL "$pid"; cat "$work/stdout.log" >&2; fail "no check-in answer"; }
  mapfile -t lines <<<"$answer"
  [ "${#lines[@]}" -eq 3 ] && [ "${lines[0]}" = "$ean" ] && [ "${lines[2]}" = "not found" ] ||
    { kill -KILL "$pid"; fail "answer: $answer"; }
  sleep 0.5  # the run ends just after its answer

  kill -TERM "$pid"
  local code=0
  wait "$pid" || code=$?
  [ "$code" -eq 0 ] || { cat "$work/stdout.log" "$work/stderr.log" >&2; fail "exit code $code after SIGTERM"; }

  # The journal's view: every stdout line is one log line with the station's time stamp.
  grep -q 'Нет в базе' "$work/stdout.log" || fail "no check-in in the log"
  if grep -vqE '^[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} ' "$work/stdout.log"; then
    grep -vE '^[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} ' "$work/stdout.log" >&2
    fail "stdout lines without a time stamp"
  fi
  local works
  works=$("$bin/tavolin-db" sql "$station/FaceBase.mdb" "SELECT SN, tags FROM Works")
  [ "$works" = "$(printf 'SN\ttags\n%s\tnot found' "$ean")" ] || fail "work log: $works"
  echo "station: ArrayOk.txt, one check-in answered (${lines[1]}), stopped by SIGTERM with exit code 0"
}

verify_unit() {
  command -v systemd-analyze >/dev/null || { echo "skipped: systemd-analyze is not installed (package systemd)"; exit 77; }
  [ -d "$root/usr/bin" ] || fail "no extracted package (the test package.Make comes first)"
  # A root with the host's units (targets the unit needs) and the unit and program of the package.
  local vroot=$work/unit-root
  rm -rf "$vroot"
  mkdir -p "$vroot/usr/lib/systemd" "$vroot/usr/bin"
  cp -a /usr/lib/systemd/system "$vroot/usr/lib/systemd/"
  cp "$root/usr/lib/systemd/system/tavolin@.service" "$vroot/usr/lib/systemd/system/"
  ln "$root/usr/bin/tavolin" "$vroot/usr/bin/tavolin" 2>/dev/null || cp "$root/usr/bin/tavolin" "$vroot/usr/bin/"
  local out code=0
  out=$(systemd-analyze verify --root="$vroot" tavolin@station1.service 2>&1) || code=$?
  # Warnings leave the exit code 0: any word about the unit fails too.
  if [ "$code" -ne 0 ] || grep -q tavolin <<<"$out"; then
    echo "$out" >&2
    fail "systemd-analyze verify: exit code $code"
  fi
  echo "unit: systemd-analyze verify accepts tavolin@station1.service"

  # Its exposure: under 4.0 of 10 (the threshold is in tenths).
  out=$(systemd-analyze security --offline=true --threshold=39 "$root/usr/lib/systemd/system/tavolin@.service" 2>&1) ||
    { echo "$out" >&2; fail "systemd-analyze security: exposure 4.0 or more"; }
  echo "unit: $(grep -o 'Overall exposure level.*' <<<"$out")"

  # A purge leaves no enabled instance behind; a plain remove keeps them for a reinstall.
  local mroot=$work/maint-root
  rm -rf "$mroot"
  mkdir -p "$mroot/etc/systemd/system/multi-user.target.wants" "$mroot/etc/systemd/system/graphical.target.wants"
  for w in multi-user graphical; do
    ln -s /usr/lib/systemd/system/tavolin@.service "$mroot/etc/systemd/system/$w.target.wants/tavolin@s1.service"
  done
  ln -s /usr/lib/systemd/system/other.service "$mroot/etc/systemd/system/multi-user.target.wants/other.service"
  DPKG_ROOT=$mroot sh "$work/control/postrm" remove
  [ -L "$mroot/etc/systemd/system/multi-user.target.wants/tavolin@s1.service" ] || fail "postrm remove disabled a station"
  DPKG_ROOT=$mroot sh "$work/control/postrm" purge
  [ -z "$(find "$mroot/etc" -name 'tavolin@*')" ] || fail "postrm purge left $(find "$mroot/etc" -name 'tavolin@*')"
  [ -L "$mroot/etc/systemd/system/multi-user.target.wants/other.service" ] || fail "postrm purge removed another unit"
  echo "postrm: purge disables every tavolin@ instance, remove keeps them"
}

case "$mode" in
  make) make_package ;;
  run) run_station ;;
  unit) verify_unit ;;
  *) fail "unknown mode $mode" ;;
esac
