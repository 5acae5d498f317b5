# The two commands of the quick start, and the builds they rest on. Each first makes sure the Debian
# packages it needs are installed (tools/deps.sh).

.PHONY: demo test full build deps-demo deps-test clean

# Runs the installer from the demo medium against a fresh demo machine.
demo: deps-demo
	cmake --preset linux >/dev/null
	cmake --build --preset linux
	tools/demo.sh

# The quick tier: builds all four presets and runs the tests of each (win64 and win32 under Wine; the
# 32-bit ones are skipped, with the reason, on a host that cannot run 32-bit programs).
test: build
	tools/test.sh quick

# The full tier (CI): the quick tier, then the whole fault sweep and the fuzzing.
full: test
	tools/test.sh full

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
