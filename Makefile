# The two set-up commands: `make run` and `make test`.
SHELL := /bin/bash
JOBS ?= 2
FIXTURES := build/fixtures
DRAVOLIN := build/release/src/cli/dravolin
WIZARD := build/release/src/ui/dravolin-wizard
RUN_ENV := XDG_CONFIG_HOME=$(CURDIR)/build/run/config XDG_STATE_HOME=$(CURDIR)/build/run/state
RUN_OPTS := --config $(CURDIR)/build/run/dravolin.ini --log-dir $(CURDIR)/build/run/logs

.PHONY: all build test run run-cli bench fixtures fuzz package package-check clean

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

# Runs every fuzz target for FUZZ_SECONDS each (clang-19 and libFuzzer from Debian).
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/install-deps test fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j$(JOBS)
	@if [ -f $(FIXTURES)/ntfs.img ]; then bash fuzz/seed-ntfs-corpus.sh $(FIXTURES)/ntfs.img build/fuzz/corpus; fi
	@if [ -f $(FIXTURES)/gpt.img ]; then bash fuzz/seed-gpt-corpus.sh $(FIXTURES) build/fuzz/corpus/gpt_fuzz; fi
	@if [ -f $(FIXTURES)/fat16.img ] && [ -x build/fuzz/src/cli/dravolin ]; then bash fuzz/seed-search-log-corpus.sh build/fuzz/src/cli/dravolin $(FIXTURES) build/debug/tests/unit/app/app_tests build/fuzz/corpus; fi
	@for f in build/fuzz/fuzz/*_fuzz; do echo "== $$f"; mkdir -p build/fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) build/fuzz/corpus/$$(basename $$f) || exit 1; done

clean:
	rm -rf build recovered dravolin_*.deb
