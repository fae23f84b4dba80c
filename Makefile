# Two commands for a newcomer: `make run` and `make check`. CMake and Ninja do the work.
BUILD ?= build
ASAN_BUILD ?= build-asan
PREFIX ?= /usr/local
DESTDIR ?=
CMAKE_FLAGS ?=

# Every tree is configured with the prefix: the shell's default for the variable shell, the path
# it is installed at, is fixed then.
CONFIGURE = cmake -S . -G Ninja -DCMAKE_INSTALL_PREFIX="$(PREFIX)" \
	-DORV_PYTHON="$$(tools/find-python || echo python3)"

.PHONY: all run check test test-asan asan tests install-check install uninstall deb deb-check \
	bench deps fuzz clean format format-check clang

# The shell alone: neither the tests nor their tools are needed for it.
all:
	@tools/install-deps build
	@$(CONFIGURE) -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) --target orv

run: all
	$(BUILD)/orv -i

deps:
	@tools/install-deps build test

# The shell and every test.
tests:
	@tools/install-deps build test
	@$(CONFIGURE) -B $(BUILD) -DORV_TESTS=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)

test: tests
	ctest --test-dir $(BUILD) --output-on-failure

asan:
	@tools/install-deps build test
	@$(CONFIGURE) -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_TESTS=ON \
		$(CMAKE_FLAGS) >/dev/null
	cmake --build $(ASAN_BUILD)

test-asan: asan
	ctest --test-dir $(ASAN_BUILD) --output-on-failure

# Installs into a scratch directory, checks what is there, and uninstalls.
install-check: all
	tests/install_check.sh $(BUILD)

check: test test-asan install-check

# DESTDIR (a staging directory) is put before every installed path.
install: all
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --strip

# Removes what the last `make install` of this tree put, under the same DESTDIR (the tree's
# manifest lists the files).
uninstall:
	@test -f $(BUILD)/install_manifest.txt || \
		{ echo "uninstall: no $(BUILD)/install_manifest.txt: nothing was installed from $(BUILD)"; exit 1; }
	@while IFS= read -r f || [ -n "$$f" ]; do rm -fv "$(DESTDIR)$$f"; done < $(BUILD)/install_manifest.txt
	@sed -n 's,/doc/orv/[^/]*$$,/doc/orv,p' $(BUILD)/install_manifest.txt | sort -u | \
		while IFS= read -r d; do rmdir -v "$(DESTDIR)$$d"; done
	@rm -f $(BUILD)/install_manifest.txt

# The Debian package: dpkg-buildpackage -us -uc -b on a copy of the tree in $(DEB_BUILD)/orv, so
# that the package (written beside the tree it is built from) and the packaging's scratch files
# land in $(DEB_BUILD); then lintian on it. deb-check installs it here, runs it and purges it.
DEB_BUILD ?= build-deb
deb:
	@tools/install-deps build deb
	rm -rf $(DEB_BUILD) && mkdir -p $(DEB_BUILD)/orv
	tar -c --exclude=./.git --exclude=./build --exclude='./build-*' . | tar -x -C $(DEB_BUILD)/orv
	cd $(DEB_BUILD)/orv && dpkg-buildpackage -us -uc -b
	lintian --fail-on error,warning $(DEB_BUILD)/orv_*.changes

deb-check: deb
	tests/deb_check.sh $(DEB_BUILD)/orv_*.deb

bench: all
	@command -v dash >/dev/null 2>&1 || { apt-get update -qq && apt-get install -y -qq dash; }
	@bench/run

# The parser's libFuzzer target is built; the whole-shell fuzzer runs generated scripts through
# the sanitizer build for FUZZ_SECONDS and keeps failing cases, reduced, in FUZZ_OUT.
FUZZ_SECONDS ?= 600
FUZZ_OUT ?= $(ASAN_BUILD)/fuzz-findings

fuzz: asan
	@tools/install-deps build clang
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
		-DORV_FUZZ=ON >/dev/null
	cmake --build build-fuzz --target fuzz_parse
	@echo "parser fuzzer: build-fuzz/fuzz_parse -max_total_time=60 tests/fuzz/corpus"
	"$$(tools/find-python)" tests/fuzz/run_shell_fuzz.py --orv $(ASAN_BUILD)/orv \
		--seconds $(FUZZ_SECONDS) --out $(FUZZ_OUT)

SOURCES = $$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tests/*.c')

format:
	@tools/install-deps format
	clang-format -i $(SOURCES)

# Fails when a source is not as clang-format would leave it.
format-check:
	@tools/install-deps format
	clang-format --dry-run --Werror $(SOURCES)

# The second compiler: a build of everything with clang, warnings as errors.
clang:
	@tools/install-deps build test clang
	@$(CONFIGURE) -B build-clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
		-DORV_WERROR=ON -DORV_TESTS=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build build-clang

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(DEB_BUILD) build-fuzz build-clang
