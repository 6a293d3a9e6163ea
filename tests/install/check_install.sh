#!/usr/bin/env bash
# Installs the project into a temporary prefix, then builds the example against the installed search
# library twice, through its CMake package and through pkg-config, and runs both builds; with PYTHON,
# imports the installed Python package with that interpreter and answers a query through it.
#   check_install.sh BUILD_DIR SOURCE_DIR CXX [PYTHON]
set -euo pipefail
build=$1 source=$2 cxx=$3 python=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/qel/kdtree.h"

cmake -S "$source/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/nearest" >"$work/cmake.txt"

pcdir=$(dirname "$(find "$work/prefix" -name qelsearch.pc)")
# The .pc file names the prefix it was configured for; point pkg-config at the temporary one.
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --define-variable=prefix="$work/prefix" --cflags --libs qelsearch)
# shellcheck disable=SC2086
"$cxx" "$source/examples/nearest.cpp" -o "$work/nearest-pc" $flags
"$work/nearest-pc" >"$work/pc.txt"

expected="1: point 4 (0.5, 0.5) at distance 0.141421
2: point 6 (0.9, 0.3) at distance 0.316228
3: point 7 (0.4, 0.1) at distance 0.360555"
diff <(echo "$expected") "$work/cmake.txt"
diff "$work/cmake.txt" "$work/pc.txt"
echo "installed library: the example builds and runs through find_package and pkg-config"

if [ -n "$python" ]; then
    init=$(find "$work/prefix" -path '*/knnbench/__init__.py')
    package=$(dirname "$init")
    test -f "$package/py.typed" && test -f "$package/_core.pyi"
    PYTHONPATH=$(dirname "$package") PYTHONDONTWRITEBYTECODE=1 "$python" -c '
import knnbench
d, i = knnbench.KdTree([[0.0, 0.0], [1.0, 1.0], [0.2, 0.1]]).query([0.9, 0.8], k=2)
assert list(i) == [1, 2], i
assert knnbench.cKDTree([[0.0, 0.0], [1.0, 1.0]]).query([0.9, 0.8])[1] == 1
print("installed Python package:", knnbench.__file__)'
fi
