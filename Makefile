# The two commands of the README: `make run` and `make test`. Each installs what is missing,
# configures and builds before it runs.
PRESET ?= default
BUILD_DIR_default := build
BUILD_DIR_debug := build-debug
BUILD_DIR_asan := build-asan
BUILD_DIR := $(BUILD_DIR_$(PRESET))

.PHONY: all deps configure build run test test-asan bench format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

run: build
	./$(BUILD_DIR)/app/qmfix

test: build
	ctest --preset $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

bench: build
	@for b in $(BUILD_DIR)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-debug build-asan
