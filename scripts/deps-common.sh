# Shared by install-deps.sh and install-bench-deps.sh (sourced, not run):
# collect what is missing with the need_* checks, then install_missing.
missing=()

need_command() {  # need_command COMMAND PACKAGE
    command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need_file() {  # need_file PATH PACKAGE
    [[ -e $1 ]] || missing+=("$2")
}
need_glob() {  # need_glob PATTERN PACKAGE: some file matches the pattern
    compgen -G "$1" >/dev/null 2>&1 || missing+=("$2")
}
need_package() {  # need_package PACKAGE
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$1")
}

# install_missing TAG: installs every missing package once, in order, when
# root on Debian; otherwise says what to install and carries on.
install_missing() {
    local tag=$1 p
    local -A seen=()
    local packages=()
    for p in "${missing[@]+"${missing[@]}"}"; do
        [[ -n ${seen[$p]+x} ]] && continue
        seen[$p]=1
        packages+=("$p")
    done
    if ((${#packages[@]} == 0)); then
        echo "$tag: everything is installed"
        return 0
    fi
    if [[ $EUID -ne 0 ]] || ! command -v dpkg-query >/dev/null 2>&1 ||
        ! command -v apt-get >/dev/null 2>&1; then
        echo "$tag: missing: ${packages[*]}"
        echo "$tag: not root on Debian, so not installing; as root run:"
        echo "    dpkg --add-architecture i386 && apt-get update && apt-get install ${packages[*]}"
        echo "$tag: continuing; what needs them is skipped"
        return 0
    fi
    echo "$tag: installing ${packages[*]}"
    for p in "${packages[@]}"; do
        if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
            dpkg --add-architecture i386
            break
        fi
    done
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${packages[@]}"
    echo "$tag: done"
}
