# Front door: `make test` and `make demo` install what they need, build both
# sides (Linux plug-in and Windows programs) and run.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	bash scripts/demo.sh $(BUILD)

bench: build
	$(BUILD)/bench/process_bench

clean:
	rm -rf $(BUILD)
