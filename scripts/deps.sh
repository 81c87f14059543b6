# Sourced by the build and test scripts: installs the Debian packages that are missing.
need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing missing packages: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# The ppc64le cross compiler, libbz2 for ppc64el and qemu-user to run the result.
need_ppc64le() {
    if ! dpkg --print-foreign-architectures | grep -qx ppc64el; then
        dpkg --add-architecture ppc64el
    fi
    need_packages g++ make cmake libbz2-dev bzip2 g++-powerpc64le-linux-gnu libbz2-dev:ppc64el qemu-user
}

# The s390x cross compiler and qemu-user; libbz2 for s390x is only downloaded
# (scripts/release.sh), so apt must know the architecture.
need_s390x() {
    if ! dpkg --print-foreign-architectures | grep -qx s390x; then
        dpkg --add-architecture s390x
        apt-get update -qq
    fi
    need_packages g++ make cmake libbz2-dev bzip2 g++-s390x-linux-gnu qemu-user
}
