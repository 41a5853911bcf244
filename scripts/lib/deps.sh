# shellcheck shell=bash
# Installs the Debian packages that building, testing and running need.
# Sourced by the scripts in scripts/; defines quorvane_install_deps.

QUORVANE_PACKAGES=(
  cmake g++ make libgtest-dev python3 clang-format unzip clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 xvfb xdotool x11-utils fonts-ipafont locales ffmpeg faketime
  libbenchmark-dev valgrind gnuplot-nox wixl msitools libxml2-utils
)
# Wine's 32-bit half runs the i686 build; it needs the i386 architecture.
QUORVANE_I386_PACKAGES=(wine32:i386)

quorvane_install_deps() {
  local missing=() package
  for package in "${QUORVANE_PACKAGES[@]}" "${QUORVANE_I386_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q ' installed$'; then
      missing+=("$package")
    fi
  done
  local as_root=()
  if [[ $(id -u) -ne 0 ]] && command -v sudo >/dev/null; then
    as_root=(sudo)
  fi
  if [[ " ${missing[*]} " == *:i386\ * ]] &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "+ dpkg --add-architecture i386"
    "${as_root[@]}" dpkg --add-architecture i386 || return 1
  fi
  if [[ ${#missing[@]} -eq 0 ]]; then
    echo "== all needed packages are installed"
  else
    quorvane_apt_install "${missing[@]}" || return 1
  fi
  quorvane_ensure_japanese_locale
}

quorvane_apt_install() {
  local missing=("$@")
  echo "== installing: ${missing[*]}"
  echo "+ apt-get update"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
  echo "+ apt-get install -y ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q -o Dpkg::Use-Pty=0 "${missing[@]}" </dev/null || return 1
}

# Wine takes code page 932 from LC_ALL=ja_JP.UTF-8 even without the locale,
# but without it Wine cannot convert non-ASCII file names to Unix ones, so a
# recording named after a Japanese channel text could not be created.
quorvane_ensure_japanese_locale() {
  if locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    return 0
  fi
  echo "+ localedef -i ja_JP -f UTF-8 ja_JP.UTF-8"
  "${as_root[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}
