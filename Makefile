# Entry points: `make demo` builds and runs pdfinquiry on the bundled
# samples; `make test` builds and runs the whole suite.
PACKAGES := build-essential cmake ninja-build pkg-config libqpdf-dev zlib1g-dev libgtest-dev libgmock-dev \
            libbenchmark-dev libspdlog-dev libfmt-dev libcli11-dev nlohmann-json3-dev qpdf \
            poppler-utils mupdf-tools ghostscript time python3-pytest
# What building the Debian packages needs besides (dpkg-shlibdeps, file).
PACKAGE_TOOLS := dpkg-dev file
PRESET ?= default
BUILD := build/$(PRESET)
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)

.PHONY: all deps configure build demo test asan tsan release-build package install bench fuzz clean

all: build

# $(call install-missing,PACKAGES): installs the Debian packages not yet
# installed (as root), or prints the apt-get line to run.
define install-missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing packages. Run:"; echo "  sudo apt-get install -y $$missing"; exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

configure: deps
	cmake --preset $(PRESET) -DCMAKE_INSTALL_PREFIX=$(PREFIX)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/bin/pdfinquiry --level 3 $(BUILD)/samples/*.pdf

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

asan:
	$(MAKE) test PRESET=asan

tsan:
	$(MAKE) test PRESET=tsan

# A packager's build: plain cmake, Release, no presets, no tests.
release-build: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPDFPARSE_BUILD_TESTS=OFF \
	  -DPDFPARSE_BUILD_BENCH=OFF
	cmake --build build/release -j $(JOBS)

# The Debian packages (libpdfparse1, pdfinquiry, libpdfparse-dev) into
# build/package/packages/: a Release build for /usr with Debian's build
# flags (hardening included), no tests, then CPack (binaries stripped,
# dependencies from dpkg-shlibdeps). See packaging/check-install.sh.
PACKAGE_BUILD := build/package
package: deps
	$(call install-missing,$(PACKAGE_TOOLS))
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DPDFPARSE_BUILD_TESTS=OFF -DPDFPARSE_BUILD_BENCH=OFF -DCMAKE_STRIP=$(CURDIR)/packaging/strip \
	  "-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  "-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)" \
	  "-DCMAKE_SHARED_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)" \
	  "-DCMAKE_MODULE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -rf $(PACKAGE_BUILD)/packages
	cd $(PACKAGE_BUILD) && cpack
	@ls -1 $(PACKAGE_BUILD)/packages/*.deb

install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

bench: build
	bench/run $(BUILD)

fuzz: deps
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DPDFPARSE_BUILD_FUZZ=ON \
	  -DPDFPARSE_BUILD_TESTS=OFF -DPDFPARSE_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/fuzz -j $(JOBS) --target fuzz_inquiry_level1 fuzz_inquiry_level3 fuzz_reader_differential fuzz_seed_corpus
	@echo "Run: build/fuzz/fuzz/fuzz_inquiry_level3 build/fuzz/fuzz/corpus -max_total_time=300 (or _level1, or fuzz_reader_differential)"

clean:
	rm -rf build
