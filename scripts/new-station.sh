#!/usr/bin/env bash
# Makes DIR a ready program directory: the station's program (a link to the build), and
# everything it reads from its program directory: cascades, network weights, sound files, the
# sample picture, an empty database and, for a new station, a "tavo.ini" with AntiSpoof=1.
# Existing files (a database, INI files) are kept.
# Usage: scripts/new-station.sh DIR [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="${1:?usage: new-station.sh DIR [BUILD_DIR]}"
build="$(cd "${2:-$here/build}" && pwd)"
third="$here/third_party"

mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"

ln -sfn "$build/app/ui/tavolin" "$dir/tavolin"

# Haar cascades lie in the program directory.
cp -u "$third"/cascades/*.xml "$dir/"

# Face networks (weights and manifests) in nets/.
mkdir -p "$dir/nets"
for f in tiny_face_detector_model ssd_mobilenetv1_model face_landmark_68_model face_recognition_model; do
  cp -u "$third/face-models/$f.bin" "$third/face-models/$f-weights_manifest.json" "$dir/nets/"
done
cp -u "$third"/face-models/*.onnx "$third/face-models/fr_LICENSE.txt" "$dir/nets/"

# Sound files and the sample picture are made by the set-up (they are not part of the program).
for f in alarm.wav a-tadam.wav Image.jpg; do
  [ -f "$third/install/$f" ] && cp -u "$third/install/$f" "$dir/$f"
done

# A new station checks presentation attacks; a station's own "tavo.ini" is never touched.
if [ ! -e "$dir/tavo.ini" ]; then
  printf '[param]\r\nAntiSpoof=1\r\n' >"$dir/tavo.ini"
fi

# An empty encrypted database, unless one is there already.
if [ ! -e "$dir/FaceBase.mdb" ] && [ -x "$build/tools/tavolin-db" ]; then
  "$build/tools/tavolin-db" create "$dir/FaceBase.mdb"
fi
echo "new-station: $dir is ready"
