# Thin entry points for the README's commands.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: setup build test clean demo

setup:
	bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

# Installs what is missing, configures, builds and runs every test.
test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600

# The main job: upgrades a demo client from a local update source, built on the
# spot (the dialog with a display, the console without one).
demo: setup
	BUILD=$(BUILD)-demo bash demo/run_demo.sh

clean:
	rm -rf $(BUILD)
