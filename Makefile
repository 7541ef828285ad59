# Front door of the build. `make` builds everything into build/bin/;
# `make test` and `make demo` first install what the machine lacks.
BIN := $(CURDIR)/build/bin
JOBS ?= 2
CMAKE_HOST := cmake -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo
FUZZ_SECONDS ?= 600

.PHONY: all host win32 win64 wine-programs asan fuzzers bootstrap test test-host test-asan test-wine test-fuzz \
        demo bench fuzz clean

all: host win32

host:
	$(CMAKE_HOST) -B build/host -DVANTREL_BIN_DIR=$(BIN) >/dev/null
	cmake --build build/host -j$(JOBS)

win32:
	cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DVANTREL_BIN_DIR=$(BIN) >/dev/null
	cmake --build build/win32 -j$(JOBS)

# The same Windows sources for x86-64: the Wine tests run them under 64-bit
# Wine where the kernel cannot run 32-bit programs (tests/wine/wine_kind.py).
win64:
	cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DVANTREL_BIN_DIR=$(CURDIR)/build/win64/bin >/dev/null
	cmake --build build/win64 -j$(JOBS)

# The Windows programs the Wine tier and the demo run: the 32-bit ones `all`
# builds, or the 64-bit build where the kernel cannot run 32-bit programs.
wine-programs:
	@if [ "$$(python3 tests/wine/wine_kind.py)" = win64 ]; then $(MAKE) --no-print-directory win64; fi

asan:
	$(CMAKE_HOST) -B build/asan -DVANTREL_SANITIZE=ON -DVANTREL_BIN_DIR=$(CURDIR)/build/asan/bin \
	  -DVANTREL_STUB_EXE=$(BIN)/vantrel-stub.exe >/dev/null
	cmake --build build/asan -j$(JOBS)

fuzzers:
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON \
	  -DVANTREL_BIN_DIR=$(CURDIR)/build/fuzz/bin >/dev/null
	cmake --build build/fuzz -j$(JOBS) --target vantrel-fuzzers

bootstrap:
	scripts/bootstrap

test: bootstrap all asan fuzzers
	$(MAKE) --no-print-directory test-host test-asan test-wine test-fuzz

test-host:
	cd build/host && ctest --output-on-failure -j$(JOBS)

test-asan:
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j$(JOBS)

test-wine: wine-programs
	python3 tests/wine/run_tests.py

test-fuzz:
	scripts/fuzz --smoke

demo: bootstrap all wine-programs
	scripts/demo

bench: bootstrap all wine-programs
	python3 tests/bench/run_bench.py

fuzz: fuzzers
	scripts/fuzz --seconds $(FUZZ_SECONDS)

clean:
	rm -rf build
