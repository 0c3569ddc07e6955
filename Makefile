BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps configure build test run release deb e2e-update clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

run: build
	@echo "vemko-vpn will start from $(abspath $(BUILD))/src/vemko-vpn (the window arrives with the GUI work)"

# The signed AppDir release and its zip in dist/; `make release VEMKO_BUILD=43` sets the build number.
release: configure
	./scripts/install-deps deps/packaging.txt
	cmake -S . -B $(BUILD) -DVEMKO_ICONS=ON $(if $(VEMKO_BUILD),-DVEMKO_BUILD=$(VEMKO_BUILD))
	cmake --build $(BUILD) -j $(JOBS)
	./scripts/release $(BUILD)

# The Debian package in dist/ (built from a copy of the tree under $(BUILD)/deb), checked by lintian.
deb: deps
	./scripts/install-deps deps/packaging.txt
	./scripts/build-deb $(BUILD)

# The self-update end to end: build N from $(BUILD), N+1 from $(BUILD)/e2e-next (a second build).
e2e-update: release
	./scripts/e2e-update $(BUILD)

clean:
	rm -rf $(BUILD)
