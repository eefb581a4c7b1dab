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

NATIVE_DIR ?= $(BUILD_DIR)/native
FUZZ_DIR ?= $(BUILD_DIR)/fuzz
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 600

.PHONY: setup configure build host native run test unit e2e bench fuzz soak clean

setup:
	@bash scripts/setup.sh
	@bash scripts/build-mbedtls.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	  -DSV_DEPS=$(DEPS_DIR) $(QUIET_CMAKE) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

# The pure units and their tests, natively with clang under ASan and UBSan.
native: setup
	@CC=clang CXX=clang++ cmake -S cmake/native -B $(NATIVE_DIR) -DSV_MBEDTLS_NATIVE=$(DEPS_DIR)/mbedtls-native $(QUIET_CMAKE) >/dev/null
	@cmake --build $(NATIVE_DIR) -j$(JOBS)

# The host and what it runs with (its trust store, its icon): no test program, no update-test build.
host: configure
	@cmake --build $(BUILD_DIR) --target sorvane-host-win7 -j$(JOBS)

# The host runs in a Wine prefix of its own: in the tests' prefix its single-instance mutex
# and its window would meet the test programs. Every `make run` shares this one, so a second
# start meets the first as it would on Windows.
RUN_PREFIX ?= $(BUILD_DIR)/wineprefix-run
run: host
	@SV_WINEPREFIX=$(RUN_PREFIX) bash scripts/with-display.sh bash scripts/wine-run.sh $(BUILD_DIR)/bin/sorvane-host-win7.exe $(ARGS)

unit: build
	@cd $(BUILD_DIR) && bash $(CURDIR)/scripts/with-display.sh ctest --output-on-failure -j$(JOBS)

e2e: build
	@bash scripts/with-display.sh env SV_BUILD_DIR=$(BUILD_DIR) /usr/bin/python3 -m pytest -q tests/e2e $(PYTEST_ARGS)

test: build native
	@/usr/bin/python3 scripts/thread_safety.py $(BUILD_DIR) $(CURDIR)
	@JOBS=$(JOBS) NATIVE_DIR=$(NATIVE_DIR) bash scripts/with-display.sh bash scripts/run-tests.sh

bench: build
	@SV_SCREEN=1920x1080x24 bash scripts/with-display.sh bash scripts/wine-run.sh $(BUILD_DIR)/bin/bench_stream.exe
	@SV_SCREEN=1920x1080x24 bash scripts/with-display.sh bash scripts/wine-run.sh $(BUILD_DIR)/bin/bench_banner.exe
	@SV_SCREEN=1920x1080x24 bash scripts/with-display.sh env SV_BUILD_DIR=$(BUILD_DIR) /usr/bin/python3 bench/host_run.py

# Every fuzz target for FUZZ_SECONDS each; fails on any finding.
fuzz: setup
	@CC=clang CXX=clang++ cmake -S cmake/native -B $(FUZZ_DIR) -DSV_FUZZ=ON -DSV_MBEDTLS_NATIVE=$(DEPS_DIR)/mbedtls-native $(QUIET_CMAKE) >/dev/null
	@cmake --build $(FUZZ_DIR) -j$(JOBS)
	@FUZZ_DIR=$(FUZZ_DIR) FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/run-fuzz.sh $(TARGETS)

# The host under Wine against hostile relay and LAN peers for SOAK_SECONDS.
soak: build
	@bash scripts/with-display.sh env SV_BUILD_DIR=$(BUILD_DIR) SOAK_SECONDS=$(SOAK_SECONDS) \
	  /usr/bin/python3 -m pytest -q -s -p no:cacheprovider tests/soak $(PYTEST_ARGS)

clean:
	rm -rf $(BUILD_DIR)
