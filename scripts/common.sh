# Shared by ./scripts/run and ./scripts/test: installs the Debian packages the
# build needs when they are missing, then configures and builds the tree.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-charts-dev qt6-serialport-dev
          qt6-qpa-plugins libgl-dev fonts-dejavu-core)

ensure_packages() {
    local missing=()
    for pkg in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    else
        echo "Missing Debian packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}

build_tree() {
    local type=${1:-RelWithDebInfo}
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$type" >/dev/null
    cmake --build "$BUILD_DIR" -j"$(nproc)"
}
