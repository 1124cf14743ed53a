# Thin wrapper over the CMake presets. Each target first installs the Debian
# packages it needs when they are missing (scripts/debian-packages.sh).
#   make run      build the program alone and run the example `pedsim 3 20 5` in out/
#   make test     build and run every test (PRESET=asan for the sanitizer build)
#   make install  install the program, its manual page (and the Python package, when built) under PREFIX
#   make bench    build and run the benchmark harness, writing bench/RESULTS.md
#   make fuzz     run the argument, marker-file and pedigree-file fuzzers for FUZZ_SECONDS each (default 60)
#   make python   build the Python module and install it into the virtual
#                 environment .venv (made with Debian's python3 and its packages)
#   make r        build the R package and install it into the R library .r-library
#                 (R_LIBS=.r-library R, then library(pedsim))
#   make r-check  R CMD check of the R package, failing on any warning

PRESET ?= release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_BIN := build/release/pedsim
PREFIX ?= /usr/local
PYTHON ?= /usr/bin/python3
VENV ?= .venv
R_LIBRARY ?= .r-library
PACKAGES := bash scripts/debian-packages.sh

.PHONY: run test build bench fuzz python r r-check install format clean

build:
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

run:
	@$(PACKAGES) build
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target pedsim
	mkdir -p out
	cd out && ../$(RELEASE_BIN) 3 20 5
	@echo "pedsim: wrote $(CURDIR)/out/ped.pre and $(CURDIR)/out/ped.errors; the program is $(CURDIR)/$(RELEASE_BIN) (make install puts it on the PATH)"

test:
	@$(PACKAGES) test
	$(MAKE) --no-print-directory build
	ctest --preset $(PRESET) -j $(JOBS)

# The program into PREFIX/bin; the Python package, when `make test` or
# `make python` built it, into the folder Debian's python3 reads for PREFIX.
install:
	@$(PACKAGES) build
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target pedsim manual_page
	cmake --install build/release --component program --prefix "$(PREFIX)"
	@if ls build/release/python/pedsim/_pedsim*.so >/dev/null 2>&1; then \
	  site="$$($(PYTHON) -c 'import sys; print("$(PREFIX)/lib/python3.%d/dist-packages" % sys.version_info[1])')"; \
	  cmake --install build/release --component python --prefix "$$site" && \
	  echo "pedsim: installed the Python package into $$site"; \
	fi

bench:
	@$(PACKAGES) test bench
	cmake --preset release -DPEDSIM_BENCH=ON >/dev/null
	cmake --build --preset release -j $(JOBS)
	build/release/bench/pedsim_bench $(RELEASE_BIN) bench/RESULTS.md
	PYTHONPATH=build/release/python $(PYTHON) bench/python_vs_cli.py $(RELEASE_BIN) >> bench/RESULTS.md

python:
	@$(PACKAGES) python
	cmake --preset release | grep -i pybind11 || true
	@cmake --build --preset release -j $(JOBS) --target _pedsim || { \
	  echo "pedsim: the Python module was not built: it needs Debian's python3-dev, pybind11-dev, python3-pybind11 and python3-numpy (see the lines above)"; exit 1; }
	$(PYTHON) -m venv --system-site-packages $(VENV)
	cmake --install build/release --component python \
	  --prefix "$$($(VENV)/bin/python -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')"
	@echo "pedsim: installed the Python module into $(VENV); try $(VENV)/bin/python -c 'import pedsim'"

# The R package over the library built as position-independent code.
R_PACKAGE_ENV = PEDSIM_INCLUDE=$(CURDIR)/include PEDSIM_CORE=$(CURDIR)/build/release/libpedsim_core_pic.a
r:
	@$(PACKAGES) r
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target pedsim pedsim_core_pic
	rm -rf build/release/r-source && mkdir -p build/release/r-source $(R_LIBRARY)
	cp -R r/pedsim build/release/r-source/
	$(R_PACKAGE_ENV) R CMD INSTALL --no-multiarch --library=$(R_LIBRARY) build/release/r-source/pedsim
	@echo "pedsim: installed the R package into $(CURDIR)/$(R_LIBRARY); try R_LIBS=$(R_LIBRARY) R -e 'library(pedsim); simulate(3, 20, 5)'"

r-check: r
	rm -rf build/release/r-check && mkdir -p build/release/r-check
	cd build/release/r-check && R CMD build $(CURDIR)/r/pedsim
	cd build/release/r-check && $(R_PACKAGE_ENV) PEDSIM_BINARY=$(CURDIR)/$(RELEASE_BIN) \
	  R_LIBS=$(CURDIR)/$(R_LIBRARY) R CMD check --no-manual pedsim_*.tar.gz
	@! grep -E "^\* .*(WARNING|ERROR)" build/release/r-check/pedsim.Rcheck/00check.log || \
	  { echo "pedsim: R CMD check warned (above)"; exit 1; }

# Runs the argument, marker-file and pedigree-file fuzzers for FUZZ_SECONDS each, on
# copies of their seed corpora.
FUZZ_SECONDS ?= 60
fuzz:
	@$(PACKAGES) fuzz
	$(MAKE) --no-print-directory build PRESET=fuzz
	rm -rf build/fuzz/corpus && mkdir -p build/fuzz/corpus
	cp -r fuzz/corpus/argument fuzz/corpus/marker_file fuzz/corpus/pedigree_file build/fuzz/corpus/
	build/fuzz/fuzz/fuzz_argument_reader -max_total_time=$(FUZZ_SECONDS) -max_len=64 \
	  -print_final_stats=1 build/fuzz/corpus/argument
	build/fuzz/fuzz/fuzz_marker_file -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	  -print_final_stats=1 build/fuzz/corpus/marker_file
	build/fuzz/fuzz/fuzz_pedigree_file -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	  -print_final_stats=1 build/fuzz/corpus/pedigree_file

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build out $(VENV) $(R_LIBRARY)
