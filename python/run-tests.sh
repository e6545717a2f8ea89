#!/usr/bin/env bash
# Installs the Python package into a venv under WORK and runs its tests against LIBRARY, KOLMSIM and
# KOLMSCAN (CTest's test python_package; see CMakeLists.txt beside this file).
# Usage: python/run-tests.sh WORK LIBRARY KOLMSIM KOLMSCAN [PYTEST ARGUMENTS...]
# PEKOLM_PYTHON names the Python to build the venv on (default /usr/bin/python3, Debian's, which has numpy,
# matplotlib and pytest as packages); PEKOLM_DEFAULT_PORT_DIR the library's default folder of com<n> links,
# when its build moved it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
mkdir -p "$1"
work=$(cd "$1" && pwd) library=$(absolute "$2") kolmsim=$(absolute "$3") kolmscan=$(absolute "$4")
shift 4
python=${PEKOLM_PYTHON:-/usr/bin/python3}
venv=$work/venv
# Without a pip of its own: the system's, seen through the system site packages, installs into the venv.
[ -x "$venv/bin/python" ] || "$python" -m venv --system-site-packages --without-pip "$venv"
# pip builds a local directory in place and leaves build/ and pekolm.egg-info there: it builds a copy.
rm -rf "$work/package"
mkdir "$work/package"
cp -R "$here/pyproject.toml" "$here/src" "$work/package/"
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check --no-build-isolation --no-index \
  "$work/package"
cd "$work"
# Nothing is written into the source tree: no bytecode, no pytest cache; matplotlib's cache stays here.
export PEKOLM_LIBRARY=$library PEKOLM_KOLMSIM=$kolmsim PEKOLM_KOLMSCAN=$kolmscan MPLCONFIGDIR=$work/matplotlib PYTHONDONTWRITEBYTECODE=1
exec "$venv/bin/python" -m pytest -p no:cacheprovider -q "$here/tests" "$@"
