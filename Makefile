# Daily work. ./run.sh and ./test.sh install what is missing first; these targets assume it is there,
# except fuzz, package and check-install, which install their own tools (scripts/deps.sh --fuzz, --package).
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
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/scripts/tsan.supp" \
		ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# libFuzzer targets (fuzz/) under clang with ASan and UBSan in build-fuzz. Each runs FUZZ_SECONDS on a
# scratch copy of its seeds, so that fuzz/corpus stays as committed; what a target finds goes to
# build-fuzz/artifacts/TARGET/ and fails the run. Over 1 s for one input counts as a hang. An
# allocation of 257 MiB or more is a finding: the image decoder's limit is 256 MiB, and libFuzzer
# counts an allocation of exactly the limit as beyond it. ASan keeps freed memory mapped rather than
# handing it back to the system every few seconds: a palette decode that frees a large picture while
# ASan returns its quarantine to the system took over 1 s on a busy machine, a hang of ASan's, not ours.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= formula script palette batchjit json exactview
FUZZ_FLAGS    = -max_total_time=$(FUZZ_SECONDS) -timeout=1 -rss_limit_mb=2048 -malloc_limit_mb=257 -print_final_stats=1
FUZZ_ENV      = ASAN_OPTIONS=detect_leaks=1:allocator_release_to_os_interval_ms=-1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	QT_LOGGING_RULES='*.warning=false'

fuzz:
	scripts/deps.sh --fuzz
	CC=clang CXX=clang++ $(CONFIGURE) -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMERSET_FUZZ=ON \
		-DGLIMMERSET_TESTS=OFF -DGLIMMERSET_BENCH=OFF > /dev/null
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS:%=%_fuzz)
	@failed=; for target in $(FUZZ_TARGETS); do \
		scratch=build-fuzz/scratch/$$target; artifacts=build-fuzz/artifacts/$$target/; \
		rm -rf $$scratch; mkdir -p $$scratch $$artifacts; \
		dict=; [ -f fuzz/$$target.dict ] && dict=-dict=fuzz/$$target.dict; \
		command="build-fuzz/bin/$${target}_fuzz $(FUZZ_FLAGS) -artifact_prefix=$$artifacts $$dict $$scratch fuzz/corpus/$$target"; \
		echo "$$command"; \
		$(FUZZ_ENV) $$command || failed="$$failed $$target"; \
	done; \
	if [ -n "$$failed" ]; then echo "fuzz: findings in:$$failed (build-fuzz/artifacts/)" >&2; exit 1; fi

clean:
	rm -rf build build-asan build-tsan build-fuzz

# Installs the programs, the launcher, the icons, the file type and the manual pages.
# DESTDIR=... stages the installation in a folder.
PREFIX ?= /usr/local
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages of the same files (build/glimmerset_VERSION_ARCH.deb, build/glimmerset-cli_...).
package: build
	scripts/deps.sh --package
	cd $(BUILD) && cpack -G DEB

# Installs into a staging folder and checks what was laid out with the desktop's own validators.
check-install: build
	scripts/deps.sh --package
	scripts/check-install.sh $(BUILD)
