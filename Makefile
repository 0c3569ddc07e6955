BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run screenshots clean

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
		LANG=C.UTF-8 TZ=UTC $(BUILD)/tests/vemko-account-screenshots docs/screenshots
	env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_FONT_DPI QT_QPA_PLATFORM=offscreen \
		LANG=C.UTF-8 TZ=UTC $(BUILD)/tests/vemko-screenshots docs/screenshots

clean:
	rm -rf $(BUILD)
