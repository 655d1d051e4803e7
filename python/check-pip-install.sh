#!/bin/sh
# check-pip-install.sh PYTHON WORK: the package as a Python user gets it.
# "pip install ./python" into a fresh virtual environment made with
# --system-site-packages (Debian's numpy serves), with no package index, no
# other source of wheels and no pip configuration of this machine, so that
# nothing can be downloaded; then the package's tests (python/tests) run
# with that environment's Python against the installed copy, away from the
# source tree. QUORVANE_DRIVER, QUORVANE_SIMULATOR and QUORVANE_QDACQ name
# this build's libraries and qdacq.
set -eu
python=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/python"
cp -r "$here/pyproject.toml" "$here/_backend" "$here/quorvane" "$work/python/"
"$python" -m venv --system-site-packages "$work/venv"
env -u PIP_FIND_LINKS -u PIP_INDEX_URL -u PIP_EXTRA_INDEX_URL -u PYTHONPATH PIP_NO_INDEX=1 PIP_CONFIG_FILE=/dev/null \
    "$work/venv/bin/pip" install --quiet --disable-pip-version-check "$work/python"
cp -r "$here/tests" "$work/tests"
cd "$work"
unset PYTHONPATH
installed=$("$work/venv/bin/python" -c 'import quorvane; print(quorvane.__file__)')
case $installed in
"$work/venv/"*) echo "quorvane installed by pip: $installed" ;;
*) echo "FAIL: quorvane comes from $installed, not from the virtual environment"; exit 1 ;;
esac
exec "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$work/tests"
