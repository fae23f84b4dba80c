# Two commands for a newcomer: `make run` and `make check`. CMake and Ninja do the work.
BUILD ?= build
ASAN_BUILD ?= build-asan
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all run check test test-asan asan bench install deps fuzz clean format format-check clang

all: deps
	@cmake -S . -B $(BUILD) -G Ninja -DORV_PYTHON="$$(tools/find-python)" $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)

deps:
	@tools/install-deps

run: all
	$(BUILD)/orv -i

test: all
	ctest --test-dir $(BUILD) --output-on-failure

asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON \
		-DORV_PYTHON="$$(tools/find-python)" $(CMAKE_FLAGS) >/dev/null
	cmake --build $(ASAN_BUILD)

test-asan: asan
	ctest --test-dir $(ASAN_BUILD) --output-on-failure

check: test test-asan

bench: all
	@command -v dash >/dev/null 2>&1 || { apt-get update -qq && apt-get install -y -qq dash; }
	@bench/run

install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

# The parser's libFuzzer target is built; the whole-shell fuzzer runs generated scripts through
# the sanitizer build for FUZZ_SECONDS and keeps failing cases, reduced, in FUZZ_OUT.
FUZZ_SECONDS ?= 600
FUZZ_OUT ?= $(ASAN_BUILD)/fuzz-findings

fuzz: asan
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
		-DORV_FUZZ=ON >/dev/null
	cmake --build build-fuzz --target fuzz_parse
	@echo "parser fuzzer: build-fuzz/fuzz_parse -max_total_time=60 tests/fuzz/corpus"
	"$$(tools/find-python)" tests/fuzz/run_shell_fuzz.py --orv $(ASAN_BUILD)/orv \
		--seconds $(FUZZ_SECONDS) --out $(FUZZ_OUT)

SOURCES = $$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tests/*.c')

format:
	clang-format -i $(SOURCES)

# Fails when a source is not as clang-format would leave it.
format-check:
	clang-format --dry-run --Werror $(SOURCES)

# The second compiler: a build with clang, warnings as errors.
clang: deps
	@cmake -S . -B build-clang -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
		-DORV_WERROR=ON -DORV_PYTHON="$$(tools/find-python)" $(CMAKE_FLAGS) >/dev/null
	cmake --build build-clang

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz build-clang
