#!/bin/sh
# demo.sh: the main job against the simulated device (see README).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
exec "$root/build/native/tools/qdhost" "$root/build/native/libQuorvaneDrv.so"
