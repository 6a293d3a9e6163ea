#!/usr/bin/env bash
# Installs the project into a temporary prefix, other than the configured one, and moves the installed
# tree elsewhere, so that nothing in it may name the folder it was installed to. There it checks that
# the public headers, and only those, are installed and that each compiles on its own, then builds the
# example against the installed search library twice, through its CMake package and through
# pkg-config, and runs both builds; with PYTHON, imports the installed Python package with that
# interpreter and answers a query through it.
#   check_install.sh BUILD_DIR SOURCE_DIR CXX [PYTHON]
set -euo pipefail
build=$1 source=$2 cxx=$3 python=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/prefix"
prefix=$work/prefix

diff <(cd "$source/search/include/qel" && ls) <(cd "$prefix/include/qel" && ls)
for header in "$source"/search/internal/qel/*.h; do
    if [ -n "$(find "$prefix" -name "$(basename "$header")")" ]; then
        echo "internal header installed: $(basename "$header")" >&2
        exit 1
    fi
done
for header in "$prefix"/include/qel/*.h; do
    echo "#include <qel/$(basename "$header")>" | "$cxx" -std=c++20 -fsyntax-only -I"$prefix/include" -x c++ -
done

cmake -S "$source/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/nearest" >"$work/cmake.txt"

pcdir=$(dirname "$(find "$prefix" -name qelsearch.pc)")
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs qelsearch)
# The flags must name the moved prefix's folders: the compiler would find nothing in the original ones.
for flag in $flags; do
    case $flag in
    -I* | -L*)
        dir=$(realpath "${flag:2}")
        if [ "$dir" != "$(realpath "$prefix/include")" ] && [ "$dir" != "$(realpath "$pcdir/..")" ]; then
            echo "pkg-config names $dir, outside $prefix" >&2
            exit 1
        fi
        ;;
    esac
done
# shellcheck disable=SC2086
"$cxx" "$source/examples/nearest.cpp" -o "$work/nearest-pc" $flags
"$work/nearest-pc" >"$work/pc.txt"

expected="1: point 4 (0.5, 0.5) at distance 0.141421
2: point 6 (0.9, 0.3) at distance 0.316228
3: point 7 (0.4, 0.1) at distance 0.360555"
diff <(echo "$expected") "$work/cmake.txt"
diff "$work/cmake.txt" "$work/pc.txt"
echo "installed library: public headers only; the example builds and runs through find_package and pkg-config"

if [ -n "$python" ]; then
    init=$(find "$prefix" -path '*/knnbench/__init__.py')
    package=$(dirname "$init")
    test -f "$package/py.typed" && test -f "$package/_core.pyi"
    PYTHONPATH=$(dirname "$package") PYTHONDONTWRITEBYTECODE=1 "$python" -c '
import knnbench
d, i = knnbench.KdTree([[0.0, 0.0], [1.0, 1.0], [0.2, 0.1]]).query([0.9, 0.8], k=2)
assert list(i) == [1, 2], i
assert knnbench.cKDTree([[0.0, 0.0], [1.0, 1.0]]).query([0.9, 0.8])[1] == 1
print("installed Python package:", knnbench.__file__)'
fi
