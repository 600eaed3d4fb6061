# The two set-up commands: `make run` and `make test`.
SHELL := /bin/bash
JOBS ?= 2
FIXTURES := build/fixtures
DRAVOLIN := build/release/src/cli/dravolin
WIZARD := build/release/src/ui/dravolin-wizard
RUN_ENV := XDG_CONFIG_HOME=$(CURDIR)/build/run/config XDG_STATE_HOME=$(CURDIR)/build/run/state
RUN_OPTS := --config $(CURDIR)/build/run/dravolin.ini --log-dir $(CURDIR)/build/run/logs

.PHONY: all build test run run-cli bench fixtures fuzz fuzz-corpus tsan package package-check clean

all: build

# Each step installs only the Debian packages it uses (scripts/install-deps).
build:
	@scripts/install-deps build
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j$(JOBS)

fixtures:
	@scripts/install-deps build
	@bash tests/fixtures/build-images.sh $(FIXTURES)

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
test:
	@scripts/install-deps test
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize -j$(JOBS)
	@ctest --preset sanitize -j$(JOBS)

# The main job on the bundled demo disk: the wizard when there is a display,
# else the same path on the command line.
run: build fixtures
	@if [[ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" && -x $(WIZARD) ]]; then \
	  echo "== The Dravolin wizard on the demo disk (close its window to end)"; \
	  $(RUN_ENV) $(WIZARD) --config $(CURDIR)/build/run/dravolin.ini --log-dir $(CURDIR)/build/run/logs $(FIXTURES)/demo.img; \
	else $(MAKE) --no-print-directory run-cli; fi

# The command-line walkthrough of the demo disk.
run-cli: build fixtures
	@echo "== Partitions of the demo disk"
	@$(RUN_ENV) $(DRAVOLIN) partitions $(FIXTURES)/demo.img $(RUN_OPTS)
	@echo "== Files and folders found on its FAT32 partition"
	@$(RUN_ENV) $(DRAVOLIN) scan $(FIXTURES)/demo.img --partition 1 $(RUN_OPTS)
	@echo "== Recovering its deleted files into ./recovered"
	@$(RUN_ENV) $(DRAVOLIN) recover $(FIXTURES)/demo.img --partition 1 --all --deleted-only \
	  --on-exists replace --to recovered $(RUN_OPTS)
	@echo "== Files and folders found on its NTFS partition (the ID column is the MFT number)"
	@$(RUN_ENV) $(DRAVOLIN) scan $(FIXTURES)/demo.img --partition 2 $(RUN_OPTS)
	@echo "== Recovering its deleted files into ./recovered/ntfs"
	@$(RUN_ENV) $(DRAVOLIN) recover $(FIXTURES)/demo.img --partition 2 --all --deleted-only \
	  --on-exists replace --to recovered/ntfs $(RUN_OPTS)

# The Debian package dravolin_VERSION_ARCH.deb in this folder, checked by lintian.
package:
	@scripts/install-deps build package
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j$(JOBS)
	@rm -f build/release/dravolin_*.deb dravolin_*.deb
	@cd build/release && cpack -G DEB
	@cp build/release/dravolin_*.deb .
	@lintian --fail-on error dravolin_*.deb
	@echo "== Install it with: sudo apt-get install ./$$(ls dravolin_*.deb)"

# Installs that package on a fresh Debian system (debootstrap, chroot) and
# checks the programs, the manual pages, the wizard under Xvfb and lintian
# there; needs root and a Debian mirror. Not part of `make test`.
package-check: package fixtures
	@scripts/install-deps package-check
	@scripts/check-package $$(ls -t dravolin_*.deb | head -n1)

bench: fixtures
	@scripts/install-deps test bench
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j$(JOBS)
	@bash bench/run-benchmarks.sh build/release

# Runs every fuzz target for FUZZ_SECONDS each (clang-19 and libFuzzer from
# Debian), starting from its committed corpus (fuzz/corpus/<target>, which
# `make test` replays); what it finds goes to build/fuzz/finds/<target>,
# crashing inputs to build/fuzz/crashes. FUZZ_TARGETS picks some of them.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/*_fuzz.cpp))
fuzz:
	@scripts/install-deps fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j$(JOBS)
	@mkdir -p build/fuzz/crashes
	@for t in $(FUZZ_TARGETS); do echo "== $$t"; mkdir -p build/fuzz/finds/$$t; \
	  build/fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/crashes/$$t- build/fuzz/finds/$$t fuzz/corpus/$$t || exit 1; done

# Seeds the fuzz corpora again from the fixture images and minimizes them
# with what is committed (and the small inputs `make fuzz` found, under
# 8 KiB, so that the corpora stay small) into fuzz/corpus.
fuzz-corpus: fixtures
	@scripts/install-deps fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j$(JOBS)
	@rm -rf build/fuzz/seeds
	@bash fuzz/seed-corpora.sh $(FIXTURES) build/fuzz/seeds build/fuzz/src/cli/dravolin
	@for t in $(FUZZ_TARGETS); do mkdir -p build/fuzz/finds/$$t; \
	  find build/fuzz/finds/$$t -type f -size -8k -exec cp -n {} build/fuzz/seeds/$$t/ \; ; done
	@bash fuzz/minimize-corpus.sh build/fuzz build/fuzz/seeds $(FUZZ_TARGETS)

# ThreadSanitizer over the tests of the threads: the read-ahead stream, the
# two-thread sweeps, imaging, the search controller and the worker job (the
# tsan presets). Not part of `make test`.
tsan:
	@scripts/install-deps test tsan
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j$(JOBS)
	@ctest --preset tsan -j$(JOBS)

clean:
	rm -rf build recovered dravolin_*.deb
