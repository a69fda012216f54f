#!/usr/bin/env bash
# Installs everything the station needs on a Debian 12 machine: build tools, libraries,
# the face networks (npm registry) and the Haar cascades (Debian packages).
# Idempotent: a second run only checks.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
third="$here/third_party"          # downloaded data, never committed (see .gitignore)

packages=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev libqt6core5compat6-dev
  libopencv-dev opencv-data
  libsqlcipher-dev sqlcipher sqlite3
  portaudio19-dev libsndfile1-dev libasound2-dev
  libgtest-dev libgmock-dev libbenchmark-dev googletest
  xvfb xauth sox imagemagick fonts-dejavu-core
  x11-utils trayer desktop-file-utils   # desktop tests: xwininfo, a system tray on Xvfb, entry checks
  vlc-bin vlc-plugin-base
  nodejs
  clang libclang-rt-14-dev   # the fuzz targets (libFuzzer comes with libclang-rt-14-dev)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

command -v npm >/dev/null || { echo "setup: npm is missing (it comes with the nodejs package)"; exit 1; }
mkdir -p "$third"

# Face networks: weights and manifests of @vladmandic/face-api (data only, no code of it runs).
if [ ! -f "$third/face-models/face_recognition_model-weights_manifest.json" ]; then
  tmp="$(mktemp -d)"
  (cd "$tmp" && npm pack --silent @vladmandic/face-api@1.7.15 >/dev/null)
  tar -xzf "$tmp"/vladmandic-face-api-1.7.15.tgz -C "$tmp" package/model
  rm -rf "$third/face-models"
  mv "$tmp/package/model" "$third/face-models"
  rm -rf "$tmp"
fi

# Light detector, descriptor and liveness networks (ONNX, loaded by cv::dnn as they are) of the
# npm package faceplugin-face-recognition-js (MIT; data only, none of its code runs), beside the
# others.
fp_version=0.0.1
fp_nets=(fr_detect.onnx fr_feature.onnx fr_liveness.onnx)
fp_missing=0
for f in "${fp_nets[@]}"; do [ -f "$third/face-models/$f" ] || fp_missing=1; done
if [ "$fp_missing" = 1 ]; then
  tmp="$(mktemp -d)"
  (cd "$tmp" && npm pack --silent "faceplugin-face-recognition-js@$fp_version" >/dev/null)
  tar -xzf "$tmp/faceplugin-face-recognition-js-$fp_version.tgz" -C "$tmp" \
    "${fp_nets[@]/#/package/model/}" package/LICENSE
  for f in "${fp_nets[@]}"; do cp "$tmp/package/model/$f" "$third/face-models/"; done
  cp "$tmp/package/LICENSE" "$third/face-models/fr_LICENSE.txt"
  rm -rf "$tmp"
fi

# Haar cascades: face and eye from opencv-data, nose and mouth from node-opencv's data folder.
mkdir -p "$third/cascades"
for f in haarcascade_frontalface_alt.xml haarcascade_frontalface_default.xml \
         haarcascade_frontalface_alt2.xml haarcascade_eye_tree_eyeglasses.xml; do
  cp -u "/usr/share/opencv4/haarcascades/$f" "$third/cascades/$f"
done
if [ ! -f "$third/cascades/haarcascade_mcs_nose.xml" ]; then
  tmp="$(mktemp -d)"
  (cd "$tmp" && apt-get download -qq node-opencv >/dev/null 2>&1) || {
    apt-get update -qq && (cd "$tmp" && apt-get download -qq node-opencv); }
  dpkg-deb -x "$tmp"/node-opencv_*.deb "$tmp/x"
  src="$(find "$tmp/x" -name haarcascade_mcs_nose.xml -printf '%h\n' | head -n1)"
  cp "$src/haarcascade_mcs_nose.xml" "$src/haarcascade_mcs_mouth.xml" "$third/cascades/"
  rm -rf "$tmp"
fi

# Files supplied with an installation (not part of the program): the two sound files and the
# sample camera picture "Image.jpg" of the analysis tools (an empty, lit work place drawn here).
mkdir -p "$third/install"
if [ ! -f "$third/install/alarm.wav" ] || [ ! -f "$third/install/a-tadam.wav" ]; then
  bash "$here/scripts/make-sounds.sh" "$third/install"
fi
if [ ! -f "$third/install/Image.jpg" ]; then
  convert -size 1280x720 gradient:'#8a8f96-#3b3f45' \
    -fill '#5a4632' -draw 'rectangle 0,520 1280,720' \
    -fill '#c9ccd1' -draw 'rectangle 420,140 860,470' \
    -fill '#2f3136' -draw 'rectangle 440,160 840,450' \
    -quality 92 "$third/install/Image.jpg"
fi

echo "setup: done"
