# Quorvane driver: the two commands that matter are "make demo" and
# "make test". Both install what the machine lacks first (scripts/setup.sh).

# tsan: the driver with the simulator under qdsoak --stress, and the
# Bluetooth LE stress test, under ThreadSanitizer.
PRESETS := native win64 win32 tsan
CMAKE_QUIET := --log-level=WARNING
PREFIX ?= /usr/local

VERSION := $(shell sed -n '/^project/s/.* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

.PHONY: all setup build test demo bench soak python install deb docs dist clean $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

all: build

setup:
	@scripts/setup.sh

# Static pattern rules: make skips implicit rules for phony targets.
$(addprefix build-,$(PRESETS)): build-%: setup
	@mkdir -p build
	@cmake --preset $* $(CMAKE_QUIET) >build/$*.configure.log 2>&1 || { cat build/$*.configure.log; exit 1; }
	@echo "building $*"
	@cmake --build --preset $* >build/$*.log 2>&1 || { tail -n 150 build/$*.log; echo "build of $* failed (whole log: build/$*.log)"; exit 1; }

build: $(addprefix build-,$(PRESETS))

$(addprefix test-,$(PRESETS)): test-%: build-%
	@scripts/wine-prefix.sh
	@if [ $* = win32 ]; then scripts/vm32/ctest-win32.sh; else ctest --preset $*; fi

# The Windows tests also try the installer and the SDK of build/dist.
test-win32 test-win64: dist

# Every build and every test (scripts/test-all.sh): the 32-bit test machine,
# where one is needed, is made and run beside the builds and the other
# tests; a failure in one build does not hide the others; a summary of the
# steps' minutes and each build's tests ends it.
test:
	@scripts/test-all.sh

demo: build-native
	@scripts/demo.sh

# Figures of the protocol engine (see README); never fails on a slow machine.
bench: build-native
	@build/native/bench/qdbench all
	@bench/callgrind.sh build/native/bench/qdbench
	@build/native/bench/bench_recording
	@build/native/bench/bench_clock
	@build/native/bench/bench_upgrade
	@$(PYTHON) bench/python/delivery.py
	@build/native/bench/qdbench delivery --seconds 20
	@umockdev-wrapper build/native/sim/ftdi_bed --model "Quorvane Halvex+ 4 USB" --stats \
		--wire-times build/native/bench/wire-times -- \
		build/native/bench/bench_usb_latency --wire-times build/native/bench/wire-times --seconds 20

# The soak (tools/qdsoak): ten contexts over the simulator for MINUTES
# minutes (default 60) with faults at seeded random moments, a line a
# minute; a non-zero exit on unexplained losses or growing resources.
MINUTES ?= 60
soak: build-native
	@build/native/tools/qdsoak --minutes $(MINUTES) --shared-dir build/native/soak-run

# The Python package in development mode: a .pth file in the system Python's
# site folder points at python/, so "import quorvane" finds this tree (and,
# through it, the native build's driver and simulator, which are built here).
PYTHON := /usr/bin/python3
python: setup
	@mkdir -p build
	@cmake --preset native $(CMAKE_QUIET) >build/native.configure.log 2>&1 || { cat build/native.configure.log; exit 1; }
	@cmake --build --preset native --target QuorvaneDrv qd_ftd2xx_sim qd_bleapis_sim >build/python.log 2>&1 || { tail -n 50 build/python.log; exit 1; }
	@site=$$($(PYTHON) -c 'import site; print(site.getsitepackages()[0])') && \
	    mkdir -p "$$site" && echo "$(CURDIR)/python" > "$$site/quorvane.pth" && \
	    echo "quorvane: $$site/quorvane.pth -> $(CURDIR)/python" && \
	    $(PYTHON) -c 'import quorvane; print("quorvane: models:", len(quorvane.models()))'

# The Linux library, header, pkg-config file, qdacq and qdparams below
# PREFIX (DESTDIR, when set, is put in front, as usual).
install: build-native
	@cmake --install build/native --prefix "$(PREFIX)"

# The Debian packages libquorvane5, libquorvane-dev, quorvane-tools and
# python3-quorvane into build/dist/ (scripts/deb.sh), from the parts of the
# native build that are installed; libquorvane-dev takes the API reference
# (build/docs/html) made by this Makefile's docs target, where it has one.
deb: setup
	@mkdir -p build
	@cmake --preset native $(CMAKE_QUIET) >build/native.configure.log 2>&1 || { cat build/native.configure.log; exit 1; }
	@cmake --build --preset native --target qd_installed >build/deb.log 2>&1 || { tail -n 50 build/deb.log; exit 1; }
	@if grep -q '^docs:' $(firstword $(MAKEFILE_LIST)); then $(MAKE) --no-print-directory docs; fi
	@scripts/deb.sh build/native build/dist

# The API reference of the public header (Doxygen) in build/docs/html.
docs: setup
	@mkdir -p build/docs
	@QD_VERSION=$(VERSION) doxygen API/Doxyfile

# The Windows installer and the SDK for host developers in build/dist
# (scripts/dist.sh): QuorvaneSetup-$(VERSION).exe, quorvane-sdk-$(VERSION)-win.zip.
dist: build-win32 build-win64 docs
	@scripts/dist.sh

clean:
	rm -rf build
