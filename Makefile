# Everything starts here: `make demo`, `make test`, `make bench`, `make check`
# (sanitizers), `make fuzz` (libFuzzer targets), `make coverage` and `make windows`.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
COVERAGE_BUILD ?= build-coverage
PREFIX ?= /usr/local

.PHONY: all deps configure build test bench demo coverage install windows clean check check-asan check-tsan fuzz

# Sanitizer and fuzzer builds: clang, each in a build folder of its own.
CLANGXX ?= clang++-14
SAN_CMAKE = -DCMAKE_CXX_COMPILER=$(CLANGXX) -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"
# Any report fails the run; the tool's child processes inherit these.
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
FUZZ_SECONDS ?= 60
FUZZ_JOBS    ?= 1

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@scripts/run-benchmarks $(BUILD)

# The whole suite (C++ and JVM tests) on an unoptimised build, then line and
# branch coverage of src/ and tools/; the per-file table goes to coverage.txt.
coverage: deps
	@cmake -S . -B $(COVERAGE_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
	  -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
	@cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	@find $(COVERAGE_BUILD) -name '*.gcda' -delete
	@# Notes of sources that are gone would count their headers' lines as never run.
	@cd $(COVERAGE_BUILD) && find CMakeFiles -path '*.dir/*.gcno' | while read -r f; do \
	  s=$${f#*.dir/}; [ -e "$(CURDIR)/$${s%.gcno}" ] || rm -f "$$f" "$${f%.gcno}.o"; done
	@cd $(COVERAGE_BUILD) && ctest --output-on-failure -j $(JOBS)
	@gcovr -r . --object-directory $(COVERAGE_BUILD) --filter src/ --filter tools/ \
	  --exclude-directories '$(COVERAGE_BUILD)/CMakeFiles/[0-9.]+' \
	  --exclude-throw-branches --exclude-unreachable-branches \
	  -o $(COVERAGE_BUILD)/coverage.txt --print-summary $(COVERAGE_BUILD)

# Builds what it installs, not the tests.
install: configure
	@cmake --build $(BUILD) -j $(JOBS) --target korvo_installed
	@cmake --install $(BUILD) --prefix $(PREFIX)

# Only what the demo needs: the library, the tool, the simulator and the jar.
# The build's own lines go to a log, shown only when the build fails.
demo: configure
	@echo "== building libKorvo.so, korvo, korvo-sim and korvo-fe (log: $(BUILD)/demo-build.log)"
	@cmake --build $(BUILD) -j $(JOBS) --target korvo_demo >$(BUILD)/demo-build.log 2>&1 || \
	  { cat $(BUILD)/demo-build.log; echo "demo: the build failed" >&2; exit 1; }
	@examples/demo.sh $(BUILD)

# The C++ suite with AddressSanitizer and UndefinedBehaviorSanitizer, then
# the threaded tests with ThreadSanitizer.
check: check-asan check-tsan

check-asan: deps
	@cmake -S . -B build-asan $(SAN_CMAKE) -DKORVO_SANITIZE=address,undefined >/dev/null
	@cmake --build build-asan -j $(JOBS) --target korvo_tests
	@echo "== korvo_tests with ASan+UBSan"
	@cd build-asan && $(SAN_ENV) ./korvo_tests --gtest_brief=1

check-tsan: deps
	@cmake -S . -B build-tsan $(SAN_CMAKE) -DKORVO_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target korvo_thread_tests
	@echo "== threaded tests with TSan"
	@cd build-tsan && $(SAN_ENV) ./korvo_thread_tests --gtest_brief=1

# Every fuzz/*_fuzz.cpp for FUZZ_SECONDS each, seeded from fuzz/seeds
# (tests and examples); the corpus grows in build-fuzz/corpus, findings land
# in build-fuzz/findings.
fuzz: deps
	@cmake -S . -B build-fuzz $(SAN_CMAKE) -DKORVO_SANITIZE=address,undefined -DKORVO_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	@scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS) $(FUZZ_JOBS)

# Korvo.dll, korvo.exe and the tests for 32-bit Windows, tested under wine.
windows:
	@windows/build $(WINDOWS_BUILD)
	@windows/test $(WINDOWS_BUILD)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) build-asan build-tsan build-fuzz $(COVERAGE_BUILD)
