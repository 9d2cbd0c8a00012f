# Front door: `make test` and `make demo` install what they need, build both
# sides (Linux plug-in and Windows programs) and run.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_ARGS ?=
# Where `make install` puts the plug-in (hosts scan ~/.vst3 per user,
# /usr/lib/vst3 or /usr/local/lib/vst3 system-wide).
VST3_DIR ?= $(HOME)/.vst3
# Where `make install` puts the quillmarlow command (PREFIX/bin) and the
# bridge it copies into the bundles it makes (PREFIX/lib/quillmarlow).
PREFIX ?= $(HOME)/.local
# The Wine prefix `make install-served` installs Quill.vst3 into.
WINEPREFIX ?= $(HOME)/.wine

.PHONY: all deps configure build bridge-products test demo bench bench-baseline install uninstall install-served deb clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) || { bash $(CURDIR)/scripts/test-failures.sh .; exit 1; }

# What the demo and the package use, and nothing else (no tests, fuzzers or
# benches): the bridge's bundle with outpost.exe, quillmarlow, vst3host, the
# demo's tools, and on the Windows side outpost, the test effect and the
# test instrument.
BRIDGE_TARGETS = QuillMarlow quillmarlow vst3host demosound wavepicture windows-configure
WINDOWS_TARGETS = outpost quill_plugin quill_instrument_plugin
bridge-products: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(BRIDGE_TARGETS)
	cmake --build $(BUILD)/windows -j $(JOBS) --target $(WINDOWS_TARGETS)
	cmake -E make_directory $(BUILD)/QuillMarlow.vst3/Contents/Resources
	cmake -E copy_if_different $(BUILD)/windows/bin/outpost.exe $(BUILD)/QuillMarlow.vst3/Contents/Resources/outpost.exe
	$(BUILD)/bin/vst3host moduleinfo $(BUILD)/QuillMarlow.vst3 $(BUILD)/QuillMarlow.vst3/Contents/Resources/moduleinfo.json

demo: bridge-products
	bash scripts/demo.sh $(BUILD)

bench: build
	bash scripts/bench.sh $(BUILD)

# The build before, measured beside this one by `make bench` (BASELINE: a commit).
BASELINE ?= 591b9cf
bench-baseline: configure
	bash scripts/bench-baseline.sh $(BUILD) $(BASELINE)

install: build
	mkdir -p "$(VST3_DIR)"
	rm -rf "$(VST3_DIR)/QuillMarlow.vst3"
	cp -r $(BUILD)/QuillMarlow.vst3 "$(VST3_DIR)/"
	@echo "Installed $(VST3_DIR)/QuillMarlow.vst3"
	mkdir -p "$(PREFIX)/bin" "$(PREFIX)/lib/quillmarlow"
	rm -rf "$(PREFIX)/lib/quillmarlow/QuillMarlow.vst3" "$(PREFIX)/lib/quillmarlow/Quill.vst3"
	cp -r $(BUILD)/QuillMarlow.vst3 $(BUILD)/windows/served/Quill.vst3 "$(PREFIX)/lib/quillmarlow/"
	install -m 755 $(BUILD)/bin/quillmarlow "$(PREFIX)/bin/quillmarlow"
	@echo "Installed $(PREFIX)/bin/quillmarlow (run: quillmarlow doctor, then quillmarlow sync)"

# Removes what `make install` put in place (same VST3_DIR and PREFIX), and
# nothing else: the bundles quillmarlow sync made stay, they run without it.
uninstall:
	rm -rf "$(VST3_DIR)/QuillMarlow.vst3" "$(PREFIX)/lib/quillmarlow/QuillMarlow.vst3" \
		"$(PREFIX)/lib/quillmarlow/Quill.vst3"
	rm -f "$(PREFIX)/bin/quillmarlow"
	-rmdir "$(PREFIX)/lib/quillmarlow" 2>/dev/null
	@echo "Removed QuillMarlow.vst3 from $(VST3_DIR) and quillmarlow from $(PREFIX)"

# quillmarlow_<version>_amd64.deb in $(BUILD), for `sudo apt install ./...deb`.
deb: bridge-products
	bash scripts/make-deb.sh $(BUILD)

install-served: build
	@test -f "$(WINEPREFIX)/system.reg" || { echo "Creating the Wine prefix $(WINEPREFIX)"; \
		WINEPREFIX="$(WINEPREFIX)" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all wineboot -i; }
	mkdir -p "$(WINEPREFIX)/drive_c/Program Files/Common Files/VST3"
	rm -rf "$(WINEPREFIX)/drive_c/Program Files/Common Files/VST3/Quill.vst3"
	cp -r $(BUILD)/windows/served/Quill.vst3 "$(WINEPREFIX)/drive_c/Program Files/Common Files/VST3/"
	@echo "Installed Quill.vst3 in $(WINEPREFIX) (C:\\Program Files\\Common Files\\VST3\\Quill.vst3)"

clean:
	rm -rf $(BUILD)

# The native tests under AddressSanitizer + UndefinedBehaviorSanitizer and
# under ThreadSanitizer, in $(BUILD)-asan and $(BUILD)-tsan.
.PHONY: test-sanitize
test-sanitize: deps
	bash scripts/test-sanitize.sh $(BUILD) $(JOBS)
