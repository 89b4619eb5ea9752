# Two entry points over the CMake presets:
#   make demo  - installs what is missing, builds, runs Tarnel(version2) on the emulated board
#   make test  - installs what is missing, builds (clang with the sanitizers, and g++), runs every test
#   make deb   - installs what building packages needs, builds the Debian packages into build/deb/
.PHONY: demo test deb deps build-dev build-ci install clean

deps:
	bash scripts/install-deps

build-dev: deps
	cmake --preset dev
	cmake --build --preset dev

build-ci: deps
	cmake --preset ci
	cmake --build --preset ci

demo: build-dev
	bash scripts/demo build/dev

# The test build uses clang with the sanitizers; the g++ build of the demo is
# built as well, so that both compilers keep the code warning-free.
test: build-ci build-dev
	bash scripts/run-tests build/ci

deb:
	bash scripts/build-deb

# Installing writes to /usr/local: as root directly, otherwise through sudo.
AS_ROOT := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

install: deps
	cmake --preset release
	cmake --build --preset release
	$(AS_ROOT) cmake --install build/release

clean:
	rm -rf build
