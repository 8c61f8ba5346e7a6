# Front door. Every target first installs the Debian packages it needs (scripts/setup.sh),
# then builds with a CMake preset into its own folder under build/ (build/dev, build/release,
# build/demo, build/windows, build/fuzz). `make help` lists the targets.

PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60
# The builds print one line a step; the nested make says nothing of the folders it enters.
MAKEFLAGS += --no-print-directory

.PHONY: all help setup build release demo run test test-windows bench bench-save fuzz fuzz-smoke \
	soak install package format format-check clean

all: build

help:
	@echo "make demo          the window against the reader simulator on COM3 (build/demo)"
	@echo "make run           the window on the machine's serial ports (build/release)"
	@echo "make test          the whole test suite under ASan and UBSan (build/dev), then test-windows"
	@echo "make test-windows  the Windows build without Qt, its tests under Wine (build/windows)"
	@echo "make build         the Debug build with sanitizers and the tests, not run (build/dev)"
	@echo "make release       the optimised build (build/release)"
	@echo "make bench         the benchmarks (build/release), figures in build/bench.json"
	@echo "make bench-save    the latest bench run into docs/bench.json and README's table"
	@echo "make fuzz          each fuzz target for FUZZ_SECONDS (default 60) (build/fuzz)"
	@echo "make fuzz-smoke    each fuzz target for 20 s, as CI runs them"
	@echo "make soak          10 000 transactions against the simulator, 1 % of replies damaged"
	@echo "make install       the programs, menu entry, icons and man pages under PREFIX"
	@echo "make package       the Debian package, into build/release"
	@echo "make format        clang-format every tracked C++ file in place"
	@echo "make format-check  list the C++ files that clang-format would change"
	@echo "make clean         remove build/"

setup:
	@bash scripts/setup.sh test

build: setup
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev

release:
	@bash scripts/setup.sh demo
	@cmake --preset release >/dev/null
	@cmake --build --preset release

demo:
	@bash scripts/setup.sh demo
	@cmake --preset demo >/dev/null
	@cmake --build --preset demo
	@bash scripts/demo.sh build/demo

run: release
	@./build/release/kt4500-config

test: build
	@ctest --preset dev
	@$(MAKE) test-windows

test-windows:
	@bash scripts/setup.sh windows
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev --target kt4500-sim
	@bash scripts/test-windows.sh build/dev/kt4500-sim

bench: release
	@bash scripts/setup.sh bench
	@bash scripts/bench.sh build/release

bench-save:
	@bash scripts/bench-save.sh build/release

fuzz:
	@bash scripts/setup.sh fuzz
	@bash fuzz/run.sh $(FUZZ_SECONDS)

fuzz-smoke:
	@bash scripts/setup.sh fuzz
	@bash fuzz/run.sh 20

soak: release
	@./build/release/kt4500-soak

install: release
	@cmake --install build/release --prefix "$(PREFIX)"

package: release
	@cd build/release && cpack -G DEB

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@bash scripts/format-check.sh

clean:
	@rm -rf build
