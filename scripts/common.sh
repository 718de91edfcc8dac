# Shared by ./scripts/run and ./scripts/test: installs the Debian packages the
# build needs when they are missing, then configures and builds the tree.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}

PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-charts-dev qt6-serialport-dev
          libqt6opengl6-dev qt6-qpa-plugins libgl-dev libfontconfig-dev
          fonts-dejavu-core ca-certificates
          libtomlplusplus-dev libqt6sql6-sqlite libqt6sql6-psql libpq-dev)
# The record store's PostgreSQL tests start a server from this package; they
# skip, saying so, where it is missing.
TEST_PACKAGES=(postgresql)
# ./scripts/package needs these besides (dpkg-shlibdeps works out the package's
# dependencies); CI also installs the checkers, so the package tests run.
PACKAGE_BUILD_PACKAGES=(dpkg-dev file)
PACKAGE_CHECK_PACKAGES=(lintian desktop-file-utils)

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

# Installs TEST_PACKAGES when run as root; otherwise names them and goes on,
# since only the tests that need them skip.
ensure_test_packages() {
    local missing=()
    for pkg in "${TEST_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        local wanted=("${PACKAGES[@]}")
        PACKAGES=("${missing[@]}")
        ensure_packages
        PACKAGES=("${wanted[@]}")
    else
        echo "Not installed: ${missing[*]} (the tests that need them will skip;" \
            "sudo apt-get install -y --no-install-recommends ${missing[*]})" >&2
    fi
}

# Debian packages that would provide the Qt modules a failed configuration
# names (Qt6Foo comes in libqt6foo6-dev or qt6-foo-dev).
packages_for_missing_qt_modules() {
    local log=$1 module lower
    grep -oE 'Qt6[A-Za-z]+ could not be found|dependency Qt6[A-Za-z]+|component "[A-Za-z]+"' "$log" |
        grep -oE 'Qt6[A-Za-z]+|"[A-Za-z]+"' | tr -d '"' | sed 's/^Qt6//' | sort -u |
        while read -r module; do
            lower=${module,,}
            for pkg in "libqt6${lower}6-dev" "qt6-${lower}-dev"; do
                apt-cache show "$pkg" >/dev/null 2>&1 && { echo "$pkg"; break; }
            done
        done
}

# Configures a build folder (type and extra CMake options after it); when the
# configuration fails, prints the apt-get line that would mend it.
configure_tree() {
    local folder=$1 type=$2 log
    shift 2
    log=$(mktemp)
    if ! cmake -S "$ROOT" -B "$folder" -DCMAKE_BUILD_TYPE="$type" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo >&2
        echo "Configuration failed. This line installs what the build needs:" >&2
        echo "  sudo apt-get install -y --no-install-recommends ${PACKAGES[*]}" \
            $(packages_for_missing_qt_modules "$log") >&2
        rm -f "$log"
        exit 1
    fi
    rm -f "$log"
}

build_tree() {
    configure_tree "$BUILD_DIR" "${1:-RelWithDebInfo}"
    cmake --build "$BUILD_DIR" -j"$(nproc)"
}
