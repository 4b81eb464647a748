# qzarc — one `make` builds both trees:
#   build/linux   native x86-64: libqzarc.so, the test programs, walk
#   build/win32   i686 Windows (MinGW-w64 cross): QZARC.dll, the .exe files
# make test   installs what is missing, builds, runs ctest in build/linux
# make run    builds, then lists examples/sample.qza with the example host
# make clean  removes build/

JOBS ?= 2
BUILD_TYPE ?= Release
LINUX_DIR := build/linux
WIN32_DIR := build/win32
MINGW_CXX := i686-w64-mingw32-g++-posix
SAMPLE := examples/sample.qza

export WINEDEBUG := -all
MAKEFLAGS += --no-print-directory

.PHONY: all linux win32 test run clean

all: linux win32

linux:
	cmake -S . -B $(LINUX_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(LINUX_DIR) -j$(JOBS)

win32:
	@if command -v $(MINGW_CXX) >/dev/null 2>&1; then \
	    set -e; \
	    echo "cmake -S . -B $(WIN32_DIR) (toolchain cmake/mingw-i686.cmake)"; \
	    cmake -S . -B $(WIN32_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	          -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake; \
	    cmake --build $(WIN32_DIR) -j$(JOBS); \
	else \
	    echo "make: $(MINGW_CXX) not found: building Linux only, skipping $(WIN32_DIR)"; \
	fi

test:
	bash scripts/install-deps.sh
	$(MAKE) all
	bash cmake/run-ctest.sh $(LINUX_DIR)

run: all
	@if [ ! -f $(SAMPLE) ]; then \
	    echo "make run: $(SAMPLE) is not there yet: no sample archive to walk"; \
	    exit 1; \
	fi
	./$(LINUX_DIR)/walk $(SAMPLE)
	@if [ -f $(WIN32_DIR)/walk.exe ] && command -v wine >/dev/null 2>&1; then \
	    echo "wine $(WIN32_DIR)/walk.exe $(SAMPLE)"; \
	    wine $(WIN32_DIR)/walk.exe $(SAMPLE); \
	fi

clean:
	rm -rf build
