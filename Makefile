# make build | make test | make demo. BUILD names the build root (default: build).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: deps build test demo clean format

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD)/host $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)/host -j $(JOBS)
	cmake -S . -B $(BUILD)/win32 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	cmake --build $(BUILD)/win32 -j $(JOBS)
	cmake -S . -B $(BUILD)/win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	  -DTALLOWIN_WIN_TESTS=ON -DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/scripts/wine-run >/dev/null
	cmake --build $(BUILD)/win64 -j $(JOBS)

test: build
	bash scripts/run-tests $(BUILD)

demo: build
	bash scripts/demo $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
