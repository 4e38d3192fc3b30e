# Kelp: `make run` and `make test` set up everything they need on Debian.

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEB_PACKAGES := g++ make cmake pkg-config libgd-dev libgtest-dev
# Only for the checks of the manual page, the unit and the package (make test,
# make package) and for the browser test; `make run` does without them.
ADMIN_DEB_PACKAGES := groff-base systemd dpkg-dev lintian python3
BROWSER_DEB_PACKAGES := chromium python3

.PHONY: all deps build run test clean deps-admin deps-browser install package test-browser

all: build

# The build's needs on the other systems Kelp is for, by their package names
# there: FreeBSD's pkg, and pkgsrc's pkgin on illumos (whose distributions
# also package them for their own pkg).
FREEBSD_PACKAGES := cmake pkgconf libgd googletest gmake
PKGSRC_PACKAGES := gcc13 cmake pkg-config gd googletest gmake
KELP_OS ?= $(shell uname -s)
ifeq ($(KELP_OS),FreeBSD)
OTHER_OS_INSTALL := pkg install $(FREEBSD_PACKAGES)
else ifeq ($(KELP_OS),SunOS)
OTHER_OS_INSTALL := pkgin install $(PKGSRC_PACKAGES)
endif

# Installs the Debian packages the build needs when run as root; otherwise
# prints the line that would install them. On FreeBSD and illumos it looks
# for cmake, gd and GoogleTest and names the line that installs them, since
# the Debian names of the other checks' tools mean nothing there.
deps:
ifdef OTHER_OS_INSTALL
	@if ! command -v cmake >/dev/null || ! pkg-config --exists gdlib gtest 2>/dev/null; then \
	  echo "Kelp needs cmake, pkg-config, gd and GoogleTest; as root, install them with:"; \
	  echo "  $(OTHER_OS_INSTALL)"; \
	  exit 1; \
	fi
else
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq$$missing; \
	  else \
	    echo "Kelp needs these packages; install them with:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi
endif

# $(call build_tree,<tree>,<extra cmake flags>,<target>): configures <tree>
# and builds <target> in it, or everything when there is none. Every tree of
# Kelp's (the build, sanitizer, fuzz, stress and bench trees) is made here.
define build_tree
	cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=RelWithDebInfo$(if $(2), $(2))
	cmake --build $(1) -j $(JOBS)$(if $(3), --target $(3))
endef

# Builds only: the targets that run something install what they need first.
build:
	$(call build_tree,$(BUILD))

run: deps build
	./$(BUILD)/Kelp

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# The checks that `make test` runs on the manual page, the unit and the
# package need their tools; the same mechanism as deps installs them.
test: deps-admin

deps-admin:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(ADMIN_DEB_PACKAGES)"

deps-browser:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(BROWSER_DEB_PACKAGES)"

# make install [DESTDIR=/abs/stage] [PREFIX=/usr/local]: an existing
# /etc/orn/Kelp.conf (below DESTDIR) is never replaced.
install: deps build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)$(if $(PREFIX), --prefix "$(PREFIX)")

# The Debian package, written into $(BUILD).
package: deps deps-admin build
	cd $(BUILD) && cpack -G DEB

# Kelp in headless Chromium on a loopback port; screenshots in $(BUILD)/browser.
test-browser: deps deps-browser build
	python3 tests/admin/browser_test.py --kelp $(BUILD)/Kelp --out $(BUILD)/browser

# The whole suite again under the sanitizers, each in a tree of its own. Any
# report fails the run: UBSan stops at the first finding, TSan halts at its
# first report so that a race inside the daemon ends it where a black-box test
# sees it. Reports go to files below the tree, since the daemon closes its
# standard error on SIGINT; they are printed after the tests.
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
ASAN_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
TSAN_FLAGS := -fsanitize=thread
ASAN_LOGS = $(abspath $(ASAN_BUILD))/sanitizer-logs
TSAN_LOGS = $(abspath $(TSAN_BUILD))/sanitizer-logs
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:log_path=$(ASAN_LOGS)/asan \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$(ASAN_LOGS)/ubsan
# Thread leaks are not reported: the daemon ends by _exit from its SIGINT
# handler with the cancelled listener, the sampling thread and finished
# connection threads not joined, by design (TSan's _exit reports them).
TSAN_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:report_thread_leaks=0:suppressions=$(abspath tests/sanitizers/tsan.supp):log_path=$(TSAN_LOGS)/tsan

# $(call sanitized_suite,<tree>,<flags>,<logs>,<environment>)
define sanitized_suite
	$(call build_tree,$(1),"-DCMAKE_CXX_FLAGS=$(2)" "-DCMAKE_EXE_LINKER_FLAGS=$(2)")
	rm -rf $(3) && mkdir -p $(3)
	cd $(1) && $(4) ctest --output-on-failure -j $(JOBS); status=$$?; \
	for f in $(3)/*; do [ -e "$$f" ] || continue; echo "== $$f"; cat "$$f"; status=1; done; \
	exit $$status
endef

.PHONY: test-asan test-tsan fuzz deps-fuzz

test-asan: deps deps-admin
	$(call sanitized_suite,$(ASAN_BUILD),$(ASAN_FLAGS),$(ASAN_LOGS),$(ASAN_ENV))

test-tsan: deps deps-admin
	$(call sanitized_suite,$(TSAN_BUILD),$(TSAN_FLAGS),$(TSAN_LOGS),$(TSAN_ENV))

# libFuzzer ships with clang's runtimes; Debian 12 keeps libclang_rt.fuzzer
# (and clang's ASan and UBSan runtimes) in libclang-rt-14-dev, which clang
# only recommends.
FUZZ_CLANG ?= 14
FUZZ_DEB_PACKAGES := clang-$(FUZZ_CLANG) libclang-rt-$(FUZZ_CLANG)-dev
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

deps-fuzz:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(FUZZ_DEB_PACKAGES)"

# make fuzz FUZZ_SECONDS=N: every target for N seconds, two at a time; new
# inputs and crashes land in $(FUZZ_BUILD)/fuzz-out, never in the seeds.
fuzz: deps deps-fuzz
	$(call build_tree,$(FUZZ_BUILD),-DKELP_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-$(FUZZ_CLANG),kelp_fuzzers)
	tests/fuzz/run_fuzzers.sh $(FUZZ_BUILD)/tests/fuzz $(FUZZ_SECONDS) $(FUZZ_BUILD)/fuzz-out

# Load and fault tests (tests/stress) in a tree of their own configured with
# KELP_STRESS=ON: only Kelp and the stress programs are built there, and the
# tests run one at a time, since they measure time and memory.
STRESS_BUILD ?= build-stress

.PHONY: test-stress

test-stress: deps
	$(call build_tree,$(STRESS_BUILD),-DKELP_STRESS=ON,kelp_stress_tests)
	cd $(STRESS_BUILD) && ctest --output-on-failure -L stress

# Benchmarks in a tree of their own (bench/run.sh says what is measured): the
# daemon against nginx serving the same page, the load graph against gd alone,
# more clients, the sampling tick and the idle daemon; bench/RESULTS.md holds a
# run. nginx is installed for the comparison only and run by the script on a
# loopback port; policy-rc.d keeps Debian's package from starting it as a
# service on port 80 while it is installed.
BENCH_BUILD ?= build-bench
BENCH_DEB_PACKAGES := nginx-light prometheus-node-exporter

.PHONY: bench deps-bench

# $(call deps_without_service,<packages>): as deps, but a package that would
# start a service of its own (nginx, prometheus) is kept from doing so by a
# policy-rc.d that is removed again right after the install.
define deps_without_service
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ] && [ "$$(id -u)" = 0 ] && [ ! -e /usr/sbin/policy-rc.d ]; then \
	  printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d && chmod 755 /usr/sbin/policy-rc.d; \
	  $(MAKE) --no-print-directory deps DEB_PACKAGES="$(1)"; status=$$?; \
	  rm -f /usr/sbin/policy-rc.d; exit $$status; \
	fi; \
	$(MAKE) --no-print-directory deps DEB_PACKAGES="$(1)"
endef

deps-bench:
	$(call deps_without_service,$(BENCH_DEB_PACKAGES))

bench: deps deps-bench
	$(call build_tree,$(BENCH_BUILD),,bench_programs)
	bench/run.sh $(BENCH_BUILD)

# A real Prometheus (Debian's, never its service) scrapes Kelp; both run on
# free loopback ports and the test stops them itself.
PROMETHEUS_DEB_PACKAGES := prometheus python3

.PHONY: test-prometheus deps-prometheus

deps-prometheus:
	$(call deps_without_service,$(PROMETHEUS_DEB_PACKAGES))

test-prometheus: build deps-prometheus
	python3 tests/web/prometheus_test.py --kelp $(BUILD)/Kelp

# Debian's nginx (never its service) with packaging/nginx-kelp.conf in front
# of Kelp, both on free loopback ports: pages and graphs come through whole and
# silent connections to nginx do not hold Kelp's slots.
PROXY_DEB_PACKAGES := nginx-light python3

.PHONY: test-proxy deps-proxy

deps-proxy:
	$(call deps_without_service,$(PROXY_DEB_PACKAGES))

test-proxy: build deps-proxy
	python3 tests/web/proxy_test.py --kelp $(BUILD)/Kelp --block packaging/nginx-kelp.conf

# Kelp built, linked and installed for FreeBSD 14, FreeBSD 15 and illumos with
# Debian's clang and lld against the cross-build kit in PLATFORMS (by default
# ../shared/platforms beside the source tree), one build tree each below
# PLATFORMS_BUILD; each system's service file is checked with shellcheck or
# against the SMF DTD (tests/platforms/run.sh).
PLATFORMS ?= ../shared/platforms
PLATFORMS_BUILD ?= build-platforms
PLATFORMS_DEB_PACKAGES := clang lld cmake pkg-config file shellcheck libxml2-utils

.PHONY: test-platforms deps-platforms

deps-platforms:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(PLATFORMS_DEB_PACKAGES)"

test-platforms: deps-platforms
	tests/platforms/run.sh "$(PLATFORMS)" $(PLATFORMS_BUILD) $(JOBS)
