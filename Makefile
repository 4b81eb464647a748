# qzarc — one `make` builds every tree:
#   build/linux   native x86-64: libqzarc.so, the test programs, walk
#   build/win32   i686 Windows (MinGW-w64 cross): QZARC.dll, the .exe files
#   build/win64   x86-64 Windows (MinGW-w64 cross): the same, 64-bit
# make test   installs what is missing, builds, runs ctest in build/linux;
#             the 32-bit Windows programs run under wine here, or in an
#             emulated guest where this machine cannot run 32-bit programs
#             (QZARC_WIN32_ROUTE=native|emulated forces a route); the
#             64-bit ones under 64-bit wine here, on every machine
# make run    builds the library and qzarc only, lists examples/sample.qza
#             with it and extracts it into ./out
# make install PREFIX=DIR [DESTDIR=STAGE]
#             builds the library and qzarc in build/linux and installs them
#             below PREFIX (default /usr/local) with cmake --install: library,
#             header, pkg-config file, CMake package, qzarc, manual pages,
#             completions; with PYTHON_SITE=DIR (absolute) also the Python
#             package, into DIR/qzarc, recording where the library went
# make package
#             the release files in build/packages (scripts/make-packages.sh):
#             Debian packages (libqzarc1, libqzarc-dev, qzarc; lintian-clean),
#             the Windows zips, the source tarball, SHA256SUMS
# make check-reproducible
#             builds the library and qzarc (Linux and Windows) twice, in
#             two directories, and compares the binaries byte for byte
# make clean  removes build/
# make bench  the extraction benchmark against zlib, libdeflate, ISA-L, 7-Zip,
#             unzip and cp, one large entry on several threads, and the
#             Python package against the C handle API and zipfile
#             (bench/qzbench.cpp; corpora cached in build/bench, table in
#             bench/results.md); BENCH_ARGS passes options to it, e.g.
#             BENCH_ARGS='--only bigentry' for one section
#
# Reliability runs (each in a build tree of its own):
# make test-asan      the Linux test programs built with AddressSanitizer and
#                     UndefinedBehaviorSanitizer (build/asan), run by ctest
# make test-tsan      the handle API's thread tests, a share of the tests of
#                     one entry decoded on several threads, and the
#                     command-line tool's tests built with ThreadSanitizer
#                     (build/tsan, library and qzarc included)
# make test-valgrind  the Linux test programs of build/linux under memcheck
# make fuzz           the libFuzzer targets (build/fuzz, clang), each for
#                     FUZZ_SECONDS (default 60) after replaying fuzz/regressions
# make soak           100 000 walk calls over a 1000-entry archive (build/soak),
#                     resident memory and open descriptors at start, middle, end

JOBS ?= 2
BUILD_TYPE ?= Release
LINUX_DIR := build/linux
WIN32_DIR := build/win32
WIN64_DIR := build/win64
MINGW_CXX := i686-w64-mingw32-g++-posix
MINGW64_CXX := x86_64-w64-mingw32-g++-posix
SAMPLE := examples/sample.qza
SAMPLE_PASSWORD := qzarc-sample

export WINEDEBUG := -all
MAKEFLAGS += --no-print-directory

.PHONY: all linux win32 win64 test run install clean

all: linux win32 win64

linux:
	cmake -S . -B $(LINUX_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(LINUX_DIR) -j$(JOBS)

# A Windows tree, configured with its toolchain file and built, where its
# cross compiler is installed; elsewhere a note, and the tree is skipped:
#   $(call mingw_tree,COMPILER,TREE,TOOLCHAIN FILE,WHAT THE NOTE SAYS)
comma := ,
define mingw_tree
@if command -v $(1) >/dev/null 2>&1; then \
    set -e; \
    echo "cmake -S . -B $(2) (toolchain cmake/$(3))"; \
    cmake -S . -B $(2) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
          -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/$(3); \
    cmake --build $(2) -j$(JOBS); \
else \
    echo "make: $(1) not found: $(4)"; \
fi
endef

win32:
	$(call mingw_tree,$(MINGW_CXX),$(WIN32_DIR),mingw-i686.cmake,building Linux only$(comma) skipping $(WIN32_DIR))

win64:
	$(call mingw_tree,$(MINGW64_CXX),$(WIN64_DIR),mingw-x86_64.cmake,skipping $(WIN64_DIR))

test:
	bash scripts/install-deps.sh
	$(MAKE) all
	bash scripts/vm/prepare.sh $(LINUX_DIR)
	bash cmake/run-ctest.sh $(LINUX_DIR)

# Only what the commands below need: the library and the command-line tool
# (the test programs take most of a full build's time).
run:
	@if [ ! -f $(SAMPLE) ]; then \
	    echo "make run: $(SAMPLE) is not there: no sample archive to extract"; \
	    exit 1; \
	fi
	cmake -S . -B $(LINUX_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(LINUX_DIR) -j$(JOBS) --target qzarc_cli
	./$(LINUX_DIR)/qzarc l $(SAMPLE)
	./$(LINUX_DIR)/qzarc x $(SAMPLE) -o out -y -p $(SAMPLE_PASSWORD)

PREFIX ?= /usr/local

# DESTDIR, when set, is taken from the environment by cmake --install.
install:
	cmake -S . -B $(LINUX_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(LINUX_DIR) -j$(JOBS) --target qzarc qzarc_cli
	QZARC_PYTHON_SITE="$(PYTHON_SITE)" cmake --install $(LINUX_DIR) --prefix $(PREFIX)

.PHONY: package check-reproducible
package:
	bash scripts/install-deps.sh
	JOBS=$(JOBS) bash scripts/make-packages.sh

check-reproducible:
	bash scripts/install-deps.sh
	JOBS=$(JOBS) bash scripts/check-reproducible.sh

clean:
	rm -rf build

# --- Reliability: sanitizers, valgrind, fuzzing, soak ---

ASAN_DIR := build/asan
TSAN_DIR := build/tsan
FUZZ_DIR := build/fuzz
SOAK_DIR := build/soak
FUZZ_SECONDS ?= 60
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
LINUX_TEST_PROGRAMS := qzarc_tests qzarc_unit_tests qzarc_fault_tests
# The programs the tests start from the build tree (the command-line tool)
# are checked too; system programs (/bin, /usr/bin) run as they are.
# --vgdb=no: valgrind would otherwise make its debugger pipes in TMPDIR,
# which tests that watch a temporary directory of their own would see.
VALGRIND := valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect \
            --error-exitcode=1 --quiet --trace-children=yes --vgdb=no \
            --trace-children-skip='/bin/*,/usr/bin/*,/usr/local/bin/*'

TSAN := -fsanitize=thread -fno-omit-frame-pointer --param=tsan-instrument-func-entry-exit=0
TSAN_TESTS := ArchiveHandleThreads.*
# The tests of one entry decoded on several threads (qzarc_unit_tests)
# under ThreadSanitizer and memcheck: every PARALLEL_STRIDE-th case of each.
TSAN_PARALLEL_TESTS := ParallelRead.*
PARALLEL_STRIDE ?= 8

.PHONY: test-asan test-tsan test-valgrind fuzz soak

# The same sources as build/linux, every object instrumented (g++: its
# sanitizer runtimes also work inside libqzarc.so). Only the Linux entries run.
# The instrumentation makes g++ 12 see uninitialised reads inside the
# standard library's <regex> and <functional> that are not there, hence
# -Wno-maybe-uninitialized in this tree only.
test-asan:
	bash scripts/install-deps.sh
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Release -DQZARC_BUILD_EXAMPLES=OFF -DQZARC_HARDENING=OFF \
	      -DCMAKE_C_FLAGS="$(SANITIZE) -g -Wno-maybe-uninitialized" \
	      -DCMAKE_CXX_FLAGS="$(SANITIZE) -g -Wno-maybe-uninitialized" \
	      -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE)"
	cmake --build $(ASAN_DIR) -j$(JOBS) --target $(LINUX_TEST_PROGRAMS)
	ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    bash cmake/run-ctest.sh $(ASAN_DIR) -R '^linux_(behaviour|unit|fault)$$'

# The behaviour tests' program, the library and qzarc under ThreadSanitizer
# (g++): the tests where handles are used by several threads at once
# (TSAN_TESTS), a share of the tests of one entry decoded on several
# threads (TSAN_PARALLEL_TESTS, in the unit tests' program, whose core has
# the test instruments that place the threads' stretches), and every test
# of the command-line tool, whose worker
# threads then run instrumented (a race makes qzarc end with status 66 and
# a report on standard error, which fails the test that ran it; an
# interrupt ends qzarc with its workers still running, on purpose, so
# threads left at exit are not reported). Any data
# race between handles, with the legacy exports' state, or between qzarc's
# workers, fails. Function entries are not instrumented: the loader runs the
# decoder's ifunc resolver (target_clones) before the sanitizer's runtime
# has started, and an instrumented one crashes there; races are still
# found, each access reported with its own frame. setarch -R: g++ 12's
# runtime cannot map its shadow memory where the kernel randomizes mmap
# with more than 28 bits.
test-tsan:
	bash scripts/install-deps.sh
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Release -DQZARC_BUILD_EXAMPLES=OFF -DQZARC_HARDENING=OFF \
	      -DCMAKE_C_FLAGS="$(TSAN) -g" -DCMAKE_CXX_FLAGS="$(TSAN) -g" \
	      -DCMAKE_EXE_LINKER_FLAGS="$(TSAN)" -DCMAKE_SHARED_LINKER_FLAGS="$(TSAN)"
	cmake --build $(TSAN_DIR) -j$(JOBS) --target qzarc_tests qzarc_unit_tests qzarc_cli qzarc_cli_tests
	TZ=Europe/Berlin TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    setarch $$(uname -m) -R ./$(TSAN_DIR)/qzarc_tests --gtest_filter='$(TSAN_TESTS)'
	TZ=Europe/Berlin TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	QZARC_PARALLEL_STRIDE=$(PARALLEL_STRIDE) \
	    setarch $$(uname -m) -R ./$(TSAN_DIR)/qzarc_unit_tests --gtest_filter='$(TSAN_PARALLEL_TESTS)'
	TZ=Europe/Berlin TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:report_thread_leaks=0 \
	    setarch $$(uname -m) -R ./$(TSAN_DIR)/qzarc_cli_tests

# Memcheck over the test programs of build/linux (the wine entries are not
# part of it), the command-line tool's tests included when they are built;
# of the tests of one entry decoded on several threads, a share.
# A definite or indirect leak, or any memory error, fails.
test-valgrind: linux
	@set -e; failed=; \
	for program in $(LINUX_TEST_PROGRAMS) qzarc_cli_tests; do \
	    if [ $$program = qzarc_cli_tests ] && [ ! -x $(LINUX_DIR)/$$program ]; then \
	        echo "valgrind: no $(LINUX_DIR)/$$program in this tree"; continue; \
	    fi; \
	    echo "valgrind $(LINUX_DIR)/$$program"; \
	    if ! TZ=Europe/Berlin QZARC_PARALLEL_STRIDE=$(PARALLEL_STRIDE) \
	         $(VALGRIND) ./$(LINUX_DIR)/$$program --gtest_brief=1; then \
	        failed="$$failed $$program"; \
	    fi; \
	done; \
	if [ -n "$$failed" ]; then echo "test-valgrind: failed:$$failed"; exit 1; fi; \
	echo "test-valgrind: every test program clean under memcheck"

fuzz:
	bash scripts/install-deps.sh
	cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_DIR) -j$(JOBS)
	bash fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

soak:
	cmake -S fuzz -B $(SOAK_DIR) -DQZARC_FUZZERS=OFF
	cmake --build $(SOAK_DIR) -j$(JOBS) --target qzarc_soak
	./$(SOAK_DIR)/qzarc_soak

# --- The extraction benchmark (not part of the tests) ---

BENCH_ARGS ?=

.PHONY: bench

# The peers are installed before the trees are configured, so that the
# configuration finds the libraries the raw-stream peers link against.
bench:
	bash scripts/install-bench-deps.sh
	$(MAKE) all
	cmake --build $(LINUX_DIR) -j$(JOBS) --target bench_programs
	@if [ -f $(WIN32_DIR)/CMakeCache.txt ]; then \
	    echo "cmake --build $(WIN32_DIR) --target bench_programs"; \
	    cmake --build $(WIN32_DIR) -j$(JOBS) --target bench_programs; \
	fi
	./$(LINUX_DIR)/qzbench --source . $(BENCH_ARGS)
