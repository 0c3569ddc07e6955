BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run screenshots release deb e2e-update clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The demo stack (reference service, demo servers) and the app pointed at it; see README "Running".
run: build
	./scripts/demo-stack $(BUILD)

# The pictures the README shows: offscreen, fixed fonts, scale 1, UTC; the same files every time.
screenshots: build
	env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_FONT_DPI QT_QPA_PLATFORM=offscreen \
		LANG=C.UTF-8 TZ=UTC $(BUILD)/tools/screenshots/vemko-account-screenshots docs/screenshots
	env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_FONT_DPI QT_QPA_PLATFORM=offscreen \
		LANG=C.UTF-8 TZ=UTC $(BUILD)/tools/screenshots/vemko-screenshots docs/screenshots

# The signed AppDir release and its zip in dist/; `make release VEMKO_BUILD=43` sets the build number,
# `make release XRAY=<folder>` bundles that Xray (checked against deps/xray.pin).
release: configure
	./scripts/install-deps deps/packaging.txt
	cmake -S . -B $(BUILD) -DVEMKO_ICONS=ON $(if $(VEMKO_BUILD),-DVEMKO_BUILD=$(VEMKO_BUILD))
	cmake --build $(BUILD) -j $(JOBS)
	XRAY="$(XRAY)" ./scripts/release $(BUILD)

# The Debian package in dist/ (built from a copy of the tree under $(BUILD)/deb), checked by lintian.
deb: deps
	./scripts/install-deps deps/packaging.txt
	XRAY="$(XRAY)" ./scripts/build-deb $(BUILD)

# The self-update end to end: build N from $(BUILD), N+1 from $(BUILD)/next (a second build).
e2e-update: release
	./scripts/e2e-update $(BUILD)

clean:
	rm -rf $(BUILD)
