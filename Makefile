# Kestrova's front door. `make run` and `make test` install what is missing first.
.PHONY: all build setup run test clean

all: build

setup:
	@bash scripts/setup.sh

build:
	@bash scripts/build.sh

run: setup build
	@bash scripts/run-demo.sh

test: setup build
	@bash scripts/test.sh $(CTEST_FLAGS)

clean:
	rm -rf build
