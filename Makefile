# Thin entry points for the README's commands.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# make install: where to (DESTDIR is honoured for staged installs).
PREFIX ?= /usr/local
# make deb: the build folder it uses and the options it configures it with.
DEB_BUILD ?= build-deb
DEB_FLAGS ?= -DPELMO_TESTS=OFF -DPELMO_BENCH=OFF
RELEASE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMO_TESTS=OFF -DPELMO_BENCH=OFF

.PHONY: setup build test clean demo install deb

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

# Builds the programs, the library and the manual pages and installs them
# under PREFIX.
install: setup
	cmake -S . -B $(BUILD)-install $(RELEASE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)
	cmake --build $(BUILD)-install -j$(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)-install --strip

# The Debian package pelmo-upgrader_VERSION_ARCH.deb, in this folder.
deb: setup
	cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  $(DEB_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(DEB_BUILD) -j$(JOBS)
	cd $(DEB_BUILD) && rm -f pelmo-upgrader_*.deb && cpack -G DEB
	rm -f pelmo-upgrader_*.deb && cp $(DEB_BUILD)/pelmo-upgrader_*.deb .

clean:
	rm -rf $(BUILD) $(BUILD)-install $(DEB_BUILD) pelmo-upgrader_*.deb
