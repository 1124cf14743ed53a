#!/usr/bin/env bash
# Installs the Debian packages that a step of the build needs, when they are
# missing, and says what it installs:
#   scripts/debian-packages.sh build|test|python|r|fuzz|bench|ci ...
# As root it runs apt-get itself, otherwise through sudo. Where neither can
# install, it names the missing packages and fails.
set -euo pipefail

# htslib and the libraries a static executable takes with it.
htslib="libhts-dev libhtscodecs-dev libbz2-dev libdeflate-dev liblzma-dev zlib1g-dev"

packages_of() {
  case "$1" in
    build) echo g++ cmake make librandom123-dev $htslib ;;
    python) echo g++ cmake make librandom123-dev $htslib python3-dev python3-venv pybind11-dev python3-pybind11 python3-numpy ;;
    test) echo g++ cmake make librandom123-dev $htslib libgtest-dev libgmock-dev parallel python3-dev \
      python3-venv pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-pandas \
      plink1.9 plink2 bcftools ;;
    r) echo "$(packages_of build) r-base-dev r-cran-rcpp r-cran-testthat" ;;
    fuzz) echo "$(packages_of build) clang libclang-rt-14-dev" ;;
    bench) echo "$(packages_of build) libbenchmark-dev" ;;
    ci) echo "$(packages_of test) $(packages_of r) $(packages_of fuzz) $(packages_of bench)" ;;
    *) echo "debian-packages.sh: unknown step '$1' (build, test, python, r, fuzz, bench, ci)" >&2
       exit 2 ;;
  esac
}

missing=()
for step in "$@"; do
  for p in $(packages_of "$step"); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      [[ " ${missing[*]-} " == *" $p "* ]] || missing+=("$p")
  done
done
((${#missing[@]})) || exit 0

if ! command -v apt-get > /dev/null; then
  echo "pedsim: this step needs the Debian packages ${missing[*]}, and there is no apt-get here" >&2
  exit 1
fi
run_as_root=()
if [ "$(id -u)" != 0 ]; then
  if ! command -v sudo > /dev/null; then
    echo "pedsim: this step needs the Debian packages ${missing[*]}; install them as root:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
  fi
  run_as_root=(sudo)
fi
echo "pedsim: installing the Debian packages ${missing[*]}"
"${run_as_root[@]}" apt-get update -q
"${run_as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "${missing[@]}"
