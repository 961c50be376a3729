# Shared by scripts/demo.sh and scripts/soak.sh (sourced, not run): the
# pieces of a store on this machine alone.

# The path of a picture with a face: the shared test image, else the one
# Debian's python3-skimage ships. Empty when neither is there.
store_face_image() {
  local candidate
  for candidate in "$1/../shared/data/images/astronaut.png" \
                   /usr/lib/python3/dist-packages/skimage/data/astronaut.png; do
    if [ -f "$candidate" ]; then echo "$candidate"; return; fi
  done
}

# Copies the licensed eye, nose and mouth cascades (never bundled) into the
# installation; prints "true" when they were there, "false" when not.
store_feature_cascades() { # ROOT INSTALL
  local mcs_dir=$1/../shared/data/haarcascades
  if ls "$mcs_dir"/haarcascade_mcs_*.xml > /dev/null 2>&1; then
    cp "$mcs_dir"/haarcascade_mcs_*.xml "$2/data/haarcascades/"
    echo true
  else
    echo false
  fi
}

# ini_set FILE SECTION KEY VALUE: replaces or adds the key in the INI file.
ini_set() {
  awk -v section="[$2]" -v key="$3" -v value="$4" '
    function put() { print key "=" value; done = 1 }
    /^\[/ { if (inside && !done) put(); inside = ($0 == section) }
    inside && index($0, key "=") == 1 { if (!done) put(); next }
    { print }
    END { if (!inside && !done) print section; if (!done) put() }
  ' "$1" > "$1.tmp" && mv "$1.tmp" "$1"
}

# Points the installation's configuration at a simulator on BASE, the first
# virtual camera and the probe device PROBE_ID.
store_configure() { # INI BASE PROBE_ID FEATURES
  local ini=$1 base=$2 feature
  ini_set "$ini" Server Server "$base"
  ini_set "$ini" Face FaceDevice '"vid_0000&pid_0000&mi_00#virtual1"'
  for feature in FaceLeftEye FaceRightEye FaceNose FaceMouth; do ini_set "$ini" Face $feature "$4"; done
  ini_set "$ini" Probe ProbeDevice "$3"
  ini_set "$ini" Baidu FaceTokenServer "$base/oauth/2.0/token"
  ini_set "$ini" Baidu FaceSearchUrl "$base/rest/2.0/face/v3/search"
  ini_set "$ini" Baidu FaceAddUrl "$base/rest/2.0/face/v3/faceset/user/add"
}

# Waits up to ten seconds for a file to be there and not empty.
wait_for_file() {
  local _
  for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done
  return 1
}

# Waits up to ten seconds for the virtual probe's link and its first line.
wait_for_probe() { # LINK LOG
  local _
  for _ in $(seq 100); do [ -L "$1" ] && [ -s "$2" ] && return 0; sleep 0.1; done
  return 1
}
