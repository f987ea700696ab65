# Kestrova's front door. `make run` and `make test` install what is missing first.
.PHONY: all build setup run test clean screenshots screenshots-resources dist bench

all: build

setup:
	@bash scripts/setup.sh

build:
	@bash scripts/build.sh

run: setup build
	@bash scripts/run-demo.sh

test: setup build
	@bash scripts/test.sh $(CTEST_FLAGS)

# The four windows in English and French, from their templates, into docs/screenshots/.
screenshots-resources: setup
	@bash scripts/screenshots-resources.sh

# The release package build/kestrova-1.31-win32.zip (program, manual, readme, licence, ASPI
# bridge, demo bus) and the installer build/kestrova-1.31-setup.exe.
dist: setup
	@bash scripts/dist.sh
	@bash scripts/installer.sh

# Every window and message box of a journey, in English and French, into docs/screenshots/.
screenshots: setup build
	@bash scripts/screenshots.sh

# Throughput of the transfers on the virtual bus against a raw copy, in pairs, in the build tree
# that runs here (BENCH_MIB, BENCH_PAIRS, BENCH_ONLY, BENCH_SLOWDOWN, BENCH_NICE; see
# docs/PERFORMANCE.md). Prints figures; not a test.
bench: setup
	@bash scripts/bench.sh

clean:
	rm -rf build
