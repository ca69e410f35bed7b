# Two commands do everything on a fresh Debian 12 machine: `make test` and `make demo`.
# Both install what is missing first (scripts/bootstrap.sh, idempotent and quiet).
BUILD   ?= build
NATIVE  := $(BUILD)/native
WIN     := $(BUILD)/win32
WIN64   := $(BUILD)/win64
TSAN    := $(BUILD)/tsan
PREFIX  := $(BUILD)/wineprefix
PREFIX32 := $(BUILD)/wineprefix32
JOBS    ?= $(shell nproc)
# Test processes per Windows suite: its programs mostly sleep on capture timeouts (the longest
# run in shards), so more of them than cores keeps the suite short without starving any.
WINE_JOBS ?= 6
# Side by side under one Wine server, the programs now and then fail for no fault of their own:
# in 3 of 29 suite runs here, on a loaded machine, a popup menu closed before its test read it,
# a dialog step stalled, or a program ended at once without a word (six copies of the menu test
# side by side: 3 of 48 failed; each on a display of its own, 1 of 96). So a Windows test program
# that fails runs once more: one that fails twice fails the suite, and the first failure's output
# stays in the log either way. (A display per program is no cure anyway: Wine's processes share
# windows, and unmapping another's window on a different display is an X error.)
WINE_CTEST = ctest --output-on-failure -j $(WINE_JOBS) --repeat until-pass:2
# Ninja rather than make: it compiles a program's sources while the libraries it links are still
# being built, where make waits for them, which left a core idle for a fifth of the build.
CMAKE_Q := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -Wno-dev
QUIET   := -- --quiet
# A build folder made by an earlier make-based checkout is configured afresh.
ninja_dir = grep -qs '^CMAKE_GENERATOR:INTERNAL=Ninja$$' $(1)/CMakeCache.txt || rm -rf $(1)/CMakeCache.txt $(1)/CMakeFiles
# Installs the Debian packages of $(1) that are missing (the benchmarks run without `setup`).
install_missing = need=""; for p in $(1); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | \
	  grep -q 'install ok installed' || need="$$need $$p"; done; [ -z "$$need" ] || \
	  { s=""; [ "$$(id -u)" -eq 0 ] || s=sudo; $$s apt-get update -qq >/dev/null; \
	    DEBIAN_FRONTEND=noninteractive $$s apt-get install -y -qq --no-install-recommends $$need >/dev/null; }
# The builds that only carry tests keep line tables (-g1: file and line in sanitizer reports and
# Wine backtraces) instead of full debug information, and the sanitizer builds optimise at -O1,
# as the sanitizers advise: that halves what the suite spends compiling. The product
# (build/win32) keeps full debug information.
flags    = -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$(1) -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$(1) -DNDEBUG"
SAN_Q   := $(CMAKE_Q) $(call flags,-O1 -g1)
TEST_Q  := $(CMAKE_Q) $(call flags,-O2 -g1)

.PHONY: all setup native win win32 win64 tsan test test-native test-win test-tsan test-win32 demo bench bench-win bench-m32 bench-8reg clean

all: native win

setup:
	@bash scripts/bootstrap.sh $(PREFIX)

native: setup
	@$(call ninja_dir,$(NATIVE)); cmake -S . -B $(NATIVE) $(SAN_Q) -DNYRA_SANITIZE=ON >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS) $(QUIET)

# The product (i686) and the same sources for x86_64, whose tests run under wine64. The i686
# build gets its tests only for make test and only where they can run (test-win32): a first
# configure leaves them out, and the second finds the toolchain in the cache.
win: win32 win64

win32: setup
	@$(call ninja_dir,$(WIN)); [ -f $(WIN)/CMakeCache.txt ] || cmake -S . -B $(WIN) $(CMAKE_Q) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake -DNYRA_TESTS=OFF >/dev/null
	@if [ "$(WIN32_TESTS)" = ON ] && bash scripts/runs-i686.sh $(PREFIX32) >/dev/null; then tests=-DNYRA_TESTS=ON; fi; \
	  cmake -S . -B $(WIN) $(CMAKE_Q) $$tests >/dev/null
	@cmake --build $(WIN) -j $(JOBS) $(QUIET)

win64: setup
	@$(call ninja_dir,$(WIN64)); cmake -S . -B $(WIN64) $(TEST_Q) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake >/dev/null
	@cmake --build $(WIN64) -j $(JOBS) $(QUIET)

# The thread sanitizer runs only the capture tests (a few seconds): their code is where the
# portable threads meet, the filters' band threads under the post-read pipeline and the
# exposure masks' atomic cache. The imaging tests start the same band threads over many more
# full frames (minutes under this sanitizer); the other portable tests start no thread.
tsan: setup
	@$(call ninja_dir,$(TSAN)); cmake -S . -B $(TSAN) $(SAN_Q) -DNYRA_TSAN=ON >/dev/null
	@cmake --build $(TSAN) --target nyra_capture_tests -j $(JOBS) $(QUIET)

# The four builds run two at a time, each on every core: one build alone leaves cores idle at
# its links and configure steps. The two Windows suites run side by side, each in its own Wine
# prefix: they spend most of their time waiting on the capture timeouts, not computing.
test: setup
	@$(MAKE) --no-print-directory -j2 --output-sync=target win32 native win64 tsan WIN32_TESTS=ON
	@$(MAKE) --no-print-directory test-native test-tsan
	@$(MAKE) --no-print-directory -j2 --output-sync=target test-win test-win32

test-native:
	@bash scripts/check-layers.sh
	@bash scripts/check-format.sh
	@ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS)

test-tsan:
	@$(TSAN)/tests/nyra_capture_tests --gtest_brief=1

test-win:
	@bash scripts/check-exports.sh $(WIN)/bin/NyraPro.SED
	@bash scripts/wine-run.sh $(PREFIX) $(WINE_CTEST) --test-dir $(WIN64)

# The whole Windows suite again in the product's own width, where this machine runs 32-bit
# Windows programs (make test builds its tests with the product); elsewhere one line says why
# it was skipped.
test-win32:
	@if why=$$(bash scripts/runs-i686.sh $(PREFIX32)); then \
	  bash scripts/wine-run.sh $(PREFIX32) $(WINE_CTEST) --test-dir $(WIN); \
	else echo "i686 Windows suite skipped: $$why (the x86_64 build of the same sources ran it under wine64)"; fi

demo: win
	@bash scripts/demo.sh $(BUILD)

# Filter timings beside OpenCV (a benchmark-only dependency; it and Ninja are installed here if
# missing), in a separate optimised native build without sanitizers. The last line is
# machine-readable.
bench:
	@$(call install_missing,libopencv-dev ninja-build)
	@$(call ninja_dir,$(BUILD)/bench); cmake -S . -B $(BUILD)/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DNYRA_BENCH=ON -Wno-dev >/dev/null
	@cmake --build $(BUILD)/bench --target nyra_bench -j $(JOBS) $(QUIET)
	@$(BUILD)/bench/tools/bench/nyra_bench

# The same benchmark as Windows programs in both widths, built as the plug-in is, without
# OpenCV (its keys read 0):
# bin/nyra_bench.exe under $(BUILD)/bench-win32 (the product's code, for a machine that runs
# 32-bit Windows programs) and $(BUILD)/bench-win64, which is run here under wine64.
bench-win: setup
	@for w in 32:i686 64:x86_64; do \
	  $(call ninja_dir,$(BUILD)/bench-win$${w%%:*}); cmake -S . -B $(BUILD)/bench-win$${w%%:*} $(CMAKE_Q) -DNYRA_BENCH=ON -Wno-dev \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/$${w#*:}-w64-mingw32.cmake >/dev/null && \
	  cmake --build $(BUILD)/bench-win$${w%%:*} --target nyra_bench -j $(JOBS) $(QUIET) || exit 1; \
	done
	@bash scripts/wine-run.sh $(PREFIX) /usr/lib/wine/wine64 $(BUILD)/bench-win64/bin/nyra_bench.exe $(BENCH_ONLY)

# The benchmark's i686 code as a native 32-bit Linux program, without OpenCV: the plug-in's
# compiler, flags and vector paths, for a machine that runs 32-bit programs but has no 32-bit
# Wine. BENCH_ONLY limits it to the filters whose names contain that text.
bench-m32:
	@$(call install_missing,g++-multilib ninja-build)
	@$(call ninja_dir,$(BUILD)/bench-m32); cmake -S . -B $(BUILD)/bench-m32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DNYRA_BENCH=ON -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux.cmake -Wno-dev >/dev/null
	@cmake --build $(BUILD)/bench-m32 --target nyra_bench -j $(JOBS) $(QUIET)
	@$(BUILD)/bench-m32/tools/bench/nyra_bench $(BENCH_ONLY)

# The benchmark natively with 32-bit x86's eight general and eight vector registers and the
# loop shapes built for them (the i686 code's register pressure, on a kernel that runs no
# 32-bit programs): an estimate of the 32-bit code beside `make bench`, not its measurement.
bench-8reg:
	@$(call install_missing,libopencv-dev ninja-build)
	@$(call ninja_dir,$(BUILD)/bench-8reg); cmake -S . -B $(BUILD)/bench-8reg -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DNYRA_BENCH=ON -DNYRA_EIGHT_REGISTERS=ON -Wno-dev >/dev/null
	@cmake --build $(BUILD)/bench-8reg --target nyra_bench -j $(JOBS) $(QUIET)
	@$(BUILD)/bench-8reg/tools/bench/nyra_bench $(BENCH_ONLY)

clean:
	rm -rf $(BUILD)
