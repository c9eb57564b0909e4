# Front door of the project. Every target installs what it needs first
# (scripts/setup.sh, idempotent), then builds with CMake:
#   build/host   the Linux host build: logic over the simulated Windows,
#                unit tests, package-builder, loader-simulator, pe-layout
#   build/win32  the Windows stub, cross-compiled: build/bin/loader.exe
#   build/win64  package-builder for authors on Windows, cross-compiled:
#                build/bin/package-builder.exe
# Artifacts land in build/bin.

SHELL := /bin/bash
BUILD := build
BIN := $(abspath $(BUILD))/bin
JOBS ?= $(shell nproc)

.PHONY: all setup host stub tools-win build test demo bench fuzz clean

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

test: build
	@cd $(BUILD)/host && ctest --output-on-failure -j$(JOBS)

demo: build
	@bash scripts/demo.sh $(BIN) $(abspath $(BUILD))

clean:
	rm -rf $(BUILD)/host $(BUILD)/win32 $(BUILD)/win64 $(BUILD)/bin
