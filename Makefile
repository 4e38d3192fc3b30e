# Kelp: `make run` and `make test` set up everything they need on Debian.

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
DEB_PACKAGES := g++ make cmake pkg-config libgd-dev libgtest-dev
# Only for the checks of the manual page, the unit and the package (make test,
# make package) and for the browser test; `make run` does without them.
ADMIN_DEB_PACKAGES := groff-base systemd dpkg-dev python3
BROWSER_DEB_PACKAGES := chromium python3

.PHONY: all deps build run test clean deps-admin deps-browser install package test-browser

all: build

# Installs the Debian packages the build needs when run as root; otherwise
# prints the line that would install them.
deps:
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

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/Kelp

test: build
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
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)$(if $(PREFIX), --prefix "$(PREFIX)")

# The Debian package, written into $(BUILD).
package: deps-admin build
	cd $(BUILD) && cpack -G DEB

# Kelp in headless Chromium on a loopback port; screenshots in $(BUILD)/browser.
test-browser: build deps-browser
	python3 tests/admin/browser_test.py --kelp $(BUILD)/Kelp --out $(BUILD)/browser
