# Everything starts here: `make demo`, `make test`, `make bench`.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: all deps configure build test bench demo install clean

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
	@echo "== 8 MiB download: korvo-fe's line, the library and korvo-sim over loopback TCP"
	@cd $(BUILD) && java -Djava.library.path=. -Dkorvo.tool=$$PWD/korvo -cp java-classes download.FrontEndBench >/dev/null

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# Only what the demo needs: the library, the tool, the simulator and the jar.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target korvo_demo
	@examples/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
