# Daily work. ./run.sh and ./test.sh install what is missing first; these targets assume it is there.
BUILD     ?= build
TYPE      ?= Release
JOBS      ?= $(shell nproc)
GENERATOR := $(shell command -v ninja > /dev/null && echo Ninja || echo "Unix Makefiles")
CONFIGURE  = cmake -S . -G "$(GENERATOR)" -Wno-dev

.PHONY: all deps configure build test run bench asan tsan clean install package check-install fuzz

all: build

deps:
	scripts/deps.sh

configure:
	$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=$(TYPE) > /dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The window program once it exists; the command-line tool's help until then.
run: build
	@if [ -x $(BUILD)/bin/glimmerset ]; then exec $(BUILD)/bin/glimmerset $(ARGS); \
	else $(BUILD)/bin/glimmerset-cli --help; fi

# Benchmarks are separate binaries that ctest never runs.
bench: build
	@for bench in $(BUILD)/bin/*_bench; do echo "== $$bench"; $$bench $(BENCH_ARGS) || exit 1; done

# AddressSanitizer with UndefinedBehaviorSanitizer, the whole suite.
asan:
	$(CONFIGURE) -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERSET_SANITIZE=address -DGLIMMERSET_BENCH=OFF > /dev/null
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# ThreadSanitizer, the whole suite.
tsan:
	$(CONFIGURE) -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERSET_SANITIZE=thread -DGLIMMERSET_BENCH=OFF > /dev/null
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
		ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-asan build-tsan

# Installs the programs, the launcher, the icons, the file type and the manual pages.
# DESTDIR=... stages the installation in a folder.
PREFIX ?= /usr/local
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the same files (build/glimmerset_VERSION_ARCH.deb).
package: build
	cd $(BUILD) && cpack -G DEB

# Installs into a staging folder and checks what was laid out with the desktop's own validators.
check-install: build
	scripts/check-install.sh $(BUILD)
