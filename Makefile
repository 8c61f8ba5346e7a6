# Front door: every target installs missing Debian packages first, then builds into build/.
#   make demo   the window against the bundled reader simulator on COM3
#   make run    the window on the machine's real serial ports
#   make test   the whole test suite (Debug, AddressSanitizer and UBSan), then test-windows
#   make test-windows   the Windows build without Qt, cross-compiled, its tests under Wine
#   make bench  the benchmarks (optimised build)
#   make fuzz   each fuzz target for FUZZ_SECONDS (default 60), clang with ASan and UBSan
#   make fuzz-smoke   each fuzz target for 20 s, as CI runs them
#   make soak   10 000 transactions against the simulator with 1 % of its replies damaged
#   make install PREFIX=...   installs the programs, menu entry, icons and man pages
#   make package              builds the Debian package into build/

PREFIX ?= /usr/local
FUZZ_SECONDS ?= 60

.PHONY: all setup build release demo run test test-windows bench fuzz fuzz-smoke soak install package format clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev

release: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release

demo: build
	@bash scripts/demo.sh build

run: release
	@./build/release/kt4500-config

test: build
	@ctest --preset dev
	@bash scripts/test-windows.sh build/windows build/kt4500-sim

test-windows: setup
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev --target kt4500-sim
	@bash scripts/test-windows.sh build/windows build/kt4500-sim

bench: release
	@bash scripts/bench.sh build/release

fuzz: setup
	@bash fuzz/run.sh $(FUZZ_SECONDS) build/fuzz

fuzz-smoke: setup
	@bash fuzz/run.sh 20 build/fuzz

soak: release
	@./build/release/kt4500-soak

install: release
	@cmake --install build/release --prefix "$(PREFIX)"

package: release
	@cd build/release && cpack -G DEB

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
