# Front door of the project. Every target installs what it needs first
# (scripts/setup.sh, idempotent), then builds with CMake:
#   build/host   the Linux host build: logic over the simulated Windows,
#                unit tests, package-builder, loader-simulator, pe-layout
#   build/win32  the Windows stub, cross-compiled: build/bin/loader.exe
#   build/win64  package-builder for authors on Windows, cross-compiled:
#                build/bin/package-builder.exe
#   build/asan   the host build again, by clang with AddressSanitizer and
#                UndefinedBehaviorSanitizer (every undefined behaviour fatal)
#   build/fuzz   the whole-run fuzz target (tests/fuzz), clang and libFuzzer;
#                its corpus stays in build/fuzz/corpus, findings in
#                build/fuzz/findings
# Artifacts land in build/bin (the sanitizer build's in build/asan/bin).

SHELL := /bin/bash
BUILD := build
BIN := $(abspath $(BUILD))/bin
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 60
FUZZ_JOBS ?= 1
SANITIZE := -O1 -g -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: all setup host stub tools-win build asan fuzz-build test demo bench fuzz clean

all: build

setup:
	@bash scripts/setup.sh

host: setup
	@cmake -S . -B $(BUILD)/host -DCMAKE_BUILD_TYPE=Release -DLOADER_BIN_DIR=$(BIN) >/dev/null
	@cmake --build $(BUILD)/host -j$(JOBS)

stub: host
	@cmake -S . -B $(BUILD)/win32 $(if $(wildcard $(BUILD)/win32/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake) \
	  -DCMAKE_BUILD_TYPE=MinSizeRel -DLOADER_BIN_DIR=$(BIN) >/dev/null
	@cmake --build $(BUILD)/win32 -j$(JOBS)

tools-win: setup
	@cmake -S tools/package-builder/windows -B $(BUILD)/win64 \
	  -DCMAKE_BUILD_TYPE=Release -DLOADER_BIN_DIR=$(BIN) >/dev/null
	@cmake --build $(BUILD)/win64 -j$(JOBS)

build: stub tools-win

asan: setup
	@cmake -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS="$(SANITIZE)" -DCMAKE_CXX_FLAGS="$(SANITIZE)" -DLOADER_BIN_DIR=$(abspath $(BUILD))/asan/bin >/dev/null
	@cmake --build $(BUILD)/asan -j$(JOBS)

fuzz-build: setup
	@cmake -S tests/fuzz -B $(BUILD)/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(BUILD)/fuzz -j$(JOBS)
	@bash tests/fuzz/check-seeds.sh $(BUILD)/fuzz

# The whole run under libFuzzer for FUZZ_SECONDS (FUZZ_JOBS processes).
fuzz: fuzz-build
	@bash tests/fuzz/run-fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS) $(FUZZ_JOBS)

# Every test of the host build, those under Wine included; the same tests
# but those under Wine, built with the sanitizers; a short fuzz.
test: build asan fuzz-build
	@cd $(BUILD)/host && ctest --output-on-failure -j$(JOBS)
	@cd $(BUILD)/asan && ctest --output-on-failure -j$(JOBS) -LE e2e
	@bash tests/fuzz/run-fuzz.sh $(BUILD)/fuzz $(FUZZ_SMOKE_SECONDS)

# The loader's size, speed and memory against their targets (bench/run.sh,
# docs/performance.md). Timings live here, never in the tests.
bench: build
	@bash bench/run.sh $(BUILD)

demo: build
	@bash scripts/demo.sh $(BIN) $(abspath $(BUILD))

clean:
	rm -rf $(BUILD)/host $(BUILD)/win32 $(BUILD)/win64 $(BUILD)/bin $(BUILD)/asan $(BUILD)/fuzz
