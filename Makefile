# Front door: `make run` and `make test` do all set-up on a fresh Debian 12 machine.
BUILD_DIR ?= $(CURDIR)/build
DEPS_DIR ?= $(CURDIR)/build/deps
JOBS ?= $(shell nproc)
export BUILD_DIR DEPS_DIR
CMAKE_ARGS ?=
# The front door shows what a person needs: set-up steps, errors and warnings, test results
# and the host's own output; not make's directory changes nor CMake's progress lines.
MAKEFLAGS += --no-print-directory
QUIET_CMAKE := -DCMAKE_RULE_MESSAGES=OFF -DCMAKE_TARGET_MESSAGES=OFF

.PHONY: setup configure build run test unit e2e bench clean

setup:
	@bash scripts/setup.sh
	@bash scripts/build-mbedtls.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DSV_DEPS=$(DEPS_DIR) $(QUIET_CMAKE) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	@bash scripts/with-display.sh bash scripts/wine-run.sh $(BUILD_DIR)/bin/sorvane-host-win7.exe $(ARGS)

unit: build
	@cd $(BUILD_DIR) && bash $(CURDIR)/scripts/with-display.sh ctest --output-on-failure -j$(JOBS)

e2e: build
	@bash scripts/with-display.sh env SV_BUILD_DIR=$(BUILD_DIR) /usr/bin/python3 -m pytest -q tests/e2e $(PYTEST_ARGS)

test: build
	@JOBS=$(JOBS) bash scripts/with-display.sh bash scripts/run-tests.sh

bench: build
	@cmake --build $(BUILD_DIR) --target bench_stream -j$(JOBS)
	@SV_SCREEN=1920x1080x24 bash scripts/with-display.sh bash scripts/wine-run.sh $(BUILD_DIR)/bin/bench_stream.exe
	@SV_SCREEN=1920x1080x24 bash scripts/with-display.sh env SV_BUILD_DIR=$(BUILD_DIR) /usr/bin/python3 bench/host_run.py

clean:
	rm -rf $(BUILD_DIR)
