# Quorvel: `make run` and `make test` work on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench faults night package clean

all: build

deps:
	@./scripts/install-deps

# One build of a directory at a time (scripts/dev-build shares the lock).
build: deps
	@flock /tmp/quorvel-build.lock sh -c 'cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && \
		cmake --build $(BUILD) -j$(JOBS) -- --no-print-directory'


# The live program on a display; without one, the headless demonstration.
run: build
	@./scripts/run-main

test: build
	@cd $(BUILD) && ctest --output-on-failure

# The fault campaigns (tests/faults/run-faults.sh): minutes, as root for all.
faults: deps
	@flock /tmp/quorvel-build.lock sh -c 'cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && \
		cmake --build $(BUILD) -j$(JOBS) --target quorvel test_core -- --no-print-directory'
	@./tests/faults/run-faults.sh $(BUILD)

# The Debian package, in $(BUILD)/package/.
package: build
	@cd $(BUILD) && cpack -G DEB --config CPackConfig.cmake >/dev/null && ls "$$PWD"/package/quorvel_*.deb

bench: build
	@./scripts/run-benchmarks $(BUILD)

# A night of guiding on the fake clock; its last line on standard output is
# the JSON of its measures, and it fails when a goal is missed.
night: deps
	@flock /tmp/quorvel-build.lock sh -c 'cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && \
		cmake --build $(BUILD) -j$(JOBS) --target night -- --no-print-directory' >&2
	@$(BUILD)/night

clean:
	rm -rf $(BUILD) build-asan
