#!/usr/bin/env bash
# Times knnbench-cli end to end (statistics report on, results written to a file) against the pipeline a
# Python user would write with scipy (numpy.loadtxt of both files, scipy.spatial.cKDTree, query,
# numpy.savetxt), on the same files: 1,000,000 uniform points of 3 coordinates and 10,000 queries, k = 10.
# knnbench-cli runs with its defaults, on every core where it can. The files are made once from a fixed
# seed in a scratch directory. Prints, over RUNS runs of each, the median wall time, the median CPU time
# (user + system: on a busy machine the wall time also counts the time other processes hold the core)
# and the peak resident memory, their ratios, and whether both pipelines found the same distances; then,
# when knnbench-cli takes --threads, its query throughput on two threads against one.
#
# usage: bench/pipeline.sh [KNNBENCH_CLI [SCRATCH_DIR]]
# environment: RUNS (default 3); PYTHON (default /usr/bin/python3, the interpreter Debian's numpy and
# scipy belong to, whatever else comes first on the PATH)
set -euo pipefail
export LC_ALL=C # one decimal mark, the point, for the generator, both pipelines and the comparison

cli=${1:-build-bench/app/cli/knnbench-cli}
scratch=${2:-${TMPDIR:-/tmp}/knnbench-pipeline}
runs=${RUNS:-3}
points=1000000
queries=10000
k=10
seed=20240601
python=${PYTHON:-/usr/bin/python3}

[ -x "$cli" ] || { echo "pipeline.sh: $cli is not an executable (build knnbench-cli first)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "pipeline.sh: /usr/bin/time is missing (Debian package time)" >&2; exit 2; }
mkdir -p "$scratch"
data=$scratch/data-$points.pts
query=$scratch/query-$queries.pts

if [ ! -s "$data" ] || [ ! -s "$query" ]; then
    echo "Writing $data and $query (seed $seed)..."
    "$python" - "$data" "$query" "$points" "$queries" "$seed" <<'EOF'
import sys
import numpy as np
data_path, query_path, points, queries, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rng = np.random.default_rng(seed)
# %.17g writes every double so that it reads back exactly.
np.savetxt(data_path, rng.random((points, 3)), fmt="%.17g")
np.savetxt(query_path, rng.random((queries, 3)), fmt="%.17g")
EOF
fi

cat > "$scratch/pipeline.py" <<'EOF'
import sys
import numpy as np
from scipy.spatial import cKDTree

data = np.loadtxt(sys.argv[1])
queries = np.loadtxt(sys.argv[2])
k = int(sys.argv[4])
dist, idx = cKDTree(data).query(queries, k=k)
np.savetxt(sys.argv[3], np.hstack((idx, dist)), fmt="%.15g", delimiter="\t")
EOF

cli_command=("$cli" --data "$data" --query "$query" -k "$k" --results "$scratch/cli-results.tsv")
py_command=("$python" "$scratch/pipeline.py" "$data" "$query" "$scratch/scipy-results.tsv" "$k")

# Runs the command once under /usr/bin/time; appends "wall-s peak-kB user-s system-s" to the named file.
measure() {
    local record=$1
    shift
    /usr/bin/time -f "%e %M %U %S" -o "$scratch/time.out" "$@" >"$scratch/stdout.out" 2>"$scratch/stderr.out" || {
        echo "pipeline.sh: failed: $*" >&2
        cat "$scratch/stderr.out" >&2
        exit 1
    }
    cat "$scratch/time.out" >>"$record"
}

cat "$data" "$query" >/dev/null # both pipelines start with the files in the page cache
rm -f "$scratch/cli.times" "$scratch/scipy.times"
for ((run = 1; run <= runs; run++)); do
    measure "$scratch/cli.times" "${cli_command[@]}"
    measure "$scratch/scipy.times" "${py_command[@]}"
done

"$python" - "$scratch" "$runs" "$k" <<'EOF'
import statistics
import sys
import numpy as np

scratch, runs, k = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def summary(name):
    rows = [line.split() for line in open(f"{scratch}/{name}.times")]
    wall = statistics.median(float(row[0]) for row in rows)
    cpu = statistics.median(float(row[2]) + float(row[3]) for row in rows)
    peak_mb = max(int(row[1]) for row in rows) / 1024.0
    return wall, cpu, peak_mb

cli_wall, cli_cpu, cli_mb = summary("cli")
py_wall, py_cpu, py_mb = summary("scipy")
print(f"| pipeline | wall s | CPU s | peak memory MB |")
print("|---|---|---|---|")
print(f"| knnbench-cli | {cli_wall:.2f} | {cli_cpu:.2f} | {cli_mb:.0f} |")
print(f"| python3 + numpy + scipy cKDTree | {py_wall:.2f} | {py_cpu:.2f} | {py_mb:.0f} |")
print()
print(f"Medians of {runs} runs. knnbench-cli / scipy: wall time {cli_wall / py_wall:.2f}, "
      f"CPU time {cli_cpu / py_cpu:.2f} (target <= 0.8, aim 0.5); peak memory {cli_mb / py_mb:.2f} (target <= 3).")

# The query table's distance columns are those captioned Dist1..Distk.
with open(f"{scratch}/cli-results.tsv") as table:
    captions = table.readline().rstrip("\n").split("\t")
    columns = [captions.index(f"Dist{i}") for i in range(1, k + 1)]
    ours = np.array([[float(line.split("\t")[c]) for c in columns] for line in table if line.strip()])
theirs = np.loadtxt(f"{scratch}/scipy-results.tsv")[:, k:]
if ours.shape == theirs.shape and np.allclose(ours, theirs, rtol=1e-12, atol=0):
    print(f"Both pipelines report the same {ours.shape[0]} x {k} distances (to 1e-12).")
else:
    print("DISTANCES DIFFER between knnbench-cli and scipy")
    sys.exit(1)
EOF

# Query throughput on one thread and on two, from the query phase time knnbench-cli reports (wall time,
# the fastest of RUNS runs each), when it can answer on several threads. Both must write the same table.
if "$cli" --help | grep -q -- "--threads"; then
    for threads in 1 2; do
        for ((run = 1; run <= runs; run++)); do
            "$cli" --data "$data" --query "$query" -k "$k" --no-stats --timing --threads "$threads" \
                --results "$scratch/cli-threads-$threads.tsv" 2>&1 >/dev/null |
                sed -n 's/^Queries: \([0-9.]*\) s.*/\1/p'
        done | sort -g | head -n 1 >"$scratch/queries-$threads.time"
    done
    cmp -s "$scratch/cli-threads-1.tsv" "$scratch/cli-threads-2.tsv" || {
        echo "RESULTS DIFFER between --threads 1 and --threads 2"
        exit 1
    }
    one=$(cat "$scratch/queries-1.time")
    two=$(cat "$scratch/queries-2.time")
    echo
    echo "Query phase of knnbench-cli: ${one} s on one thread, ${two} s on two (fastest of $runs runs, wall time;" \
        "load average $(cut -d' ' -f1-3 /proc/loadavg))."
    awk -v one="$one" -v two="$two" 'BEGIN { printf "Throughput --threads 2 / --threads 1: %.2f (target >= 1.8 on 2 cores); same results.\n", one / two }'
fi
