# The two commands of the quick start, and the builds they rest on. Each first makes sure the Debian
# packages it needs are installed (tools/deps.sh).

PRESETS_TESTED := linux linux-asan win64 win32

.PHONY: demo test build deps-demo deps-test clean

# Runs the installer from the demo medium against a fresh demo machine.
demo: deps-demo
	cmake --preset linux >/dev/null
	cmake --build --preset linux
	tools/demo.sh

# Builds all four presets and runs the tests of each (win64 and win32 under Wine).
test: deps-test
	for p in linux linux-asan win64 win32; do \
	    cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done
	for p in $(PRESETS_TESTED); do \
	    ctest --preset $$p || exit 1; \
	done

build: deps-test
	for p in linux linux-asan win64 win32; do \
	    cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done

deps-demo:
	@tools/deps.sh demo

deps-test:
	@tools/deps.sh test

clean:
	rm -rf build
