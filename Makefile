# make build | make test | make demo | make dist. BUILD names the build root (default: build).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: deps build test demo bench dist clean format

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

dist: build
	bash scripts/dist $(BUILD)

bench: build
	bash scripts/bench $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)

# make fuzz: the long fuzz runs, FUZZ_CASES per side. The tool's parser runs in its own
# AddressSanitizer and UBSan build; the stub's reader runs under Wine with heap checks.
FUZZ_CASES ?= 200000
FUZZ_SANITIZE = -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
.PHONY: fuzz
fuzz: deps
	cmake -S . -B $(BUILD)/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_CXX_FLAGS=$(FUZZ_SANITIZE)" "-DCMAKE_EXE_LINKER_FLAGS=$(FUZZ_SANITIZE)" >/dev/null
	cmake --build $(BUILD)/asan -j $(JOBS) --target block_reader_test
	cd $(BUILD)/asan/tests && TALLOWIN_FUZZ_CASES=$(FUZZ_CASES) ./block_reader_test
	cmake -S . -B $(BUILD)/win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	  -DTALLOWIN_WIN_TESTS=ON -DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/scripts/wine-run >/dev/null
	cmake --build $(BUILD)/win64 -j $(JOBS) --target fuzz_reader_test
	scripts/wine-harness start $(BUILD)
	status=0; TALLOWIN_HARNESS_ROOT=$(CURDIR)/$(BUILD) TALLOWIN_FUZZ_CASES=$(FUZZ_CASES) \
	  ctest --test-dir $(BUILD)/win64 -R '^win\.fuzz_reader_test$$' --output-on-failure \
	  --timeout 7200 -V || status=$$?; scripts/wine-harness stop $(BUILD); exit $$status
