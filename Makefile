# Everything starts here: `make demo`, `make test`, `make bench`, `make coverage`.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
COVERAGE_BUILD ?= build-coverage
PREFIX ?= /usr/local

.PHONY: all deps configure build test bench demo coverage install clean

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
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b || exit 1; done
	@echo "== device round trips through the JVM"
	@java -Djava.library.path=$(BUILD) -cp $(BUILD)/java-classes korvotest.RoundTripBench 3
	@echo "== 8 MiB downloads through the JVM"
	@cd $(BUILD) && java -Djava.library.path=. -cp java-classes download.DownloadBench >/dev/null

# The whole suite (C++ and JVM tests) on an unoptimised build, then line and
# branch coverage of src/ and tools/; the per-file table goes to coverage.txt.
coverage: deps
	@cmake -S . -B $(COVERAGE_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
	  -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
	@cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	@find $(COVERAGE_BUILD) -name '*.gcda' -delete
	@cd $(COVERAGE_BUILD) && ctest --output-on-failure -j $(JOBS)
	@gcovr -r . --object-directory $(COVERAGE_BUILD) --filter src/ --filter tools/ \
	  --exclude-directories '$(COVERAGE_BUILD)/CMakeFiles/[0-9.]+' \
	  --exclude-throw-branches --exclude-unreachable-branches \
	  -o $(COVERAGE_BUILD)/coverage.txt --print-summary

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

demo: build
	@examples/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(COVERAGE_BUILD)
