# Everything starts here: `make demo`, `make test`, `make bench`, `make windows`.
BUILD ?= build
WINDOWS_BUILD ?= build-windows
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
PREFIX ?= /usr/local

.PHONY: all deps configure build test bench demo install windows clean

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

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

demo: build
	@examples/demo.sh $(BUILD)

# Korvo.dll, korvo.exe and the tests for 32-bit Windows, tested under wine.
windows:
	@windows/build $(WINDOWS_BUILD)
	@windows/test $(WINDOWS_BUILD)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD)
