# Thin wrapper over the CMake presets.
#   make run    build the release binary and run the example `pedsim 3 20 5` in out/
#   make test   build and run every test (PRESET=asan for the sanitizer build)
#   make bench  build and run the benchmark harness, writing bench/RESULTS.md

PRESET ?= release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_BIN := build/release/pedsim

.PHONY: run test build bench fuzz format clean

build:
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

run:
	$(MAKE) --no-print-directory build PRESET=release
	mkdir -p out
	cd out && ../$(RELEASE_BIN) 3 20 5
	@echo "pedsim: wrote $(CURDIR)/out/ped.pre and $(CURDIR)/out/ped.errors"

test: build
	ctest --preset $(PRESET) -j $(JOBS)

bench:
	cmake --preset release -DPEDSIM_BENCH=ON >/dev/null
	cmake --build --preset release -j $(JOBS)
	build/release/bench/pedsim_bench $(RELEASE_BIN) bench/RESULTS.md

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build out
