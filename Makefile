# Quorvel: `make run` and `make test` work on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench faults night package clean fuzz fuzz-build fuzz-merge

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

# Fuzzing (tests/fuzz/): the libFuzzer targets built with clang in their own
# directory, each run FUZZ_SECONDS from the corpus in tests/fuzz/corpus/;
# fuzz-merge minimises that corpus with what the runs found.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= settings frame measure server fits sky guidelog plot calibfile

fuzz-build: deps
	@flock /tmp/quorvel-build.lock sh -c 'cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DQUORVEL_FUZZ=ON >/dev/null && \
		cmake --build $(FUZZ_BUILD) -j$(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS)) -- --no-print-directory'

fuzz: fuzz-build
	@./scripts/run-fuzz run $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz-merge: fuzz-build
	@./scripts/run-fuzz merge $(FUZZ_BUILD) 0 $(FUZZ_TARGETS)

bench: build
	@./scripts/run-benchmarks $(BUILD)

# A night of guiding on the fake clock; its last line on standard output is
# the JSON of its measures, and it fails when a goal is missed.
night: deps
	@flock /tmp/quorvel-build.lock sh -c 'cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && \
		cmake --build $(BUILD) -j$(JOBS) --target night -- --no-print-directory' >&2
	@$(BUILD)/night

clean:
	rm -rf $(BUILD) build-asan $(FUZZ_BUILD)
