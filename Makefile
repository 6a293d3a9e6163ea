# knnbench: `make run` starts the test bench on the bundled sample, `make test` runs every test.
# Both install the Debian packages they need when missing.
SHELL := /bin/bash
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

BUILD_PACKAGES := cmake g++ make pkgconf libgtest-dev googletest qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev pybind11-dev python3-dev python3-numpy python3-pytest python3-hypothesis python3-scipy python3-pip python3-setuptools python3-wheel python3-build

# Installs the packages of $(1) that dpkg does not know yet.
define ensure_packages
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing Debian packages:$$missing"; \
	    if [ "$$(id -u)" = 0 ]; then sudo=""; else sudo=sudo; fi; \
	    $$sudo apt-get update -q && \
	    $$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi
endef

.PHONY: deps configure build test test-sanitize test-tsan monkey run screenshots clean

deps:
	$(call ensure_packages,$(BUILD_PACKAGES))

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

SANITIZE_CONFIGURE = cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKNN_SANITIZE=ON $(CMAKE_FLAGS)

# Every test under AddressSanitizer and UndefinedBehaviorSanitizer but the million-point GUI runs, whose
# time bounds hold for an optimised build.
test-sanitize: deps
	$(SANITIZE_CONFIGURE)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The library's concurrency tests under ThreadSanitizer: builds on several threads at once while
# others release the shared empty leaf and search.
TSAN_BUILD ?= build-tsan
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKNN_SANITIZE_THREAD=ON -DKNN_BUILD_GUI=OFF \
	    -DKNN_BUILD_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target search_test_concurrentbuild
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/search_test_concurrentbuild

# A random session of MONKEY_ACTIONS steps from seed MONKEY_SEED over the desktop windows, offscreen, in
# the sanitizer build; a failure prints the action log, which MONKEY_REPLAY=<log> runs again.
MONKEY_ACTIONS ?= 10000
MONKEY_SEED ?= 1
monkey: deps
	$(SANITIZE_CONFIGURE)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target knnbench-monkey
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen MONKEY_ACTIONS=$(MONKEY_ACTIONS) MONKEY_SEED=$(MONKEY_SEED) \
	    tests/gui/monkey/knnbench-monkey

run: build
	@if [ -x $(BUILD)/app/gui/knnbench ] && [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	    $(BUILD)/app/gui/knnbench; \
	else \
	    if [ -x $(BUILD)/app/gui/knnbench ]; then echo "No display available: running knnbench-cli on the sample instead."; \
	    else echo "The desktop test bench is not built (configured with -DKNN_BUILD_GUI=OFF): running knnbench-cli on the sample instead."; fi; \
	    $(BUILD)/app/cli/knnbench-cli --data data/data.pts --query data/query.pts -k 3 --results -; \
	fi

# Both windows after a run on the sample, the compare window after a compare run on the sample, then
# the results of a run on a million generated points, whole and zoomed in, rendered offscreen into
# $(BUILD)/screenshots/*.png.
screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/app/gui/knnbench-screenshots $(BUILD)/screenshots

# Benchmarks in their own Release build: `make bench` measures everything (it takes long), then times
# knnbench-cli against a scipy pipeline; `make bench-quick` measures the performance targets' configurations.
BENCH_BUILD ?= build-bench
BENCH_PACKAGES := cmake g++ make libnanoflann-dev libflann-dev liblz4-dev python3-numpy python3-scipy time

.PHONY: bench bench-quick bench-build

bench-build:
	$(call ensure_packages,$(BENCH_PACKAGES))
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DKNN_BUILD_BENCH=ON -DKNN_BUILD_GUI=OFF -DKNN_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target knnbench-bench knnbench-cli

bench: bench-build
	set -o pipefail; $(BENCH_BUILD)/bench/knnbench-bench | tee $(BENCH_BUILD)/bench.md
	set -o pipefail; bench/pipeline.sh $(BENCH_BUILD)/app/cli/knnbench-cli | tee $(BENCH_BUILD)/pipeline.md

bench-quick: bench-build
	set -o pipefail; $(BENCH_BUILD)/bench/knnbench-bench --quick | tee $(BENCH_BUILD)/bench-quick.md

# Fuzz targets (libFuzzer with clang) in their own build: `make fuzz` builds them, `make fuzz-short`
# runs each for FUZZ_SECONDS (about a minute); fuzz/run.sh runs them for longer.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_PACKAGES := cmake make clang libclang-rt-dev

.PHONY: fuzz fuzz-short

fuzz:
	$(call ensure_packages,$(FUZZ_PACKAGES))
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz-short: fuzz
	fuzz/run.sh $(FUZZ_SECONDS) $(FUZZ_BUILD)

# Every C++ source formatted by the root's .clang-format (Debian 12's clang-format 14); format-check, run
# by CI, fails naming each file the formatter would change.
FORMAT_SOURCES = git ls-files '*.cpp' '*.h'

.PHONY: format format-check

format:
	$(call ensure_packages,clang-format)
	$(FORMAT_SOURCES) | xargs clang-format -i

format-check:
	$(call ensure_packages,clang-format)
	$(FORMAT_SOURCES) | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD)
