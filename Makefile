# Set-up and everyday commands. `make demo` and `make test` work on a fresh machine.
PYTHON    ?= python3.11
VENV      ?= .venv
BUILD_DIR ?= build/release
PY        := $(VENV)/bin/python
PIP       := $(PY) -m pip --disable-pip-version-check
STAMP     := $(VENV)/.deps-installed
PYTEST_ARGS ?=
INSTALL_ARGS ?=
# WERROR=ON builds with warnings as errors (as CI does).
WERROR ?= OFF

# Sanitizer build: its own venv and build folder, so it never mixes with the release one.
ASAN_VENV      ?= .venv-asan
ASAN_BUILD_DIR ?= build/asan
ASAN_LIBS      := $$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)
# The release interpreter is not instrumented, so the sanitizer runtime is preloaded;
# PYTHONMALLOC=malloc sends every object allocation through it. Leak detection is off:
# the interpreter keeps many allocations alive until exit by design (our leaks are
# found by tests/leakcheck.py instead).
ASAN_ENV       := LD_PRELOAD="$(ASAN_LIBS)" PYTHONMALLOC=malloc \
                  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_init_order=1 \
                  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One test file or more of each module, their leak checks included.
VALGRIND_TESTS ?= tests/test_scalar_orders.py tests/test_compare_composites.py tests/test_sort_key.py \
                  tests/test_sort_key_pickle.py tests/test_equal_composites.py tests/test_identity_builder.py \
                  tests/test_textcodec_module.py tests/test_pfnlink_calls.py tests/test_hardening_leaks.py \
                  standins/tests/test_bridge_conversions.py standins/tests/test_runtime_registry.py \
                  standins/tests/test_runtime_boundary.py
# Invalid reads, writes and frees fail the run. Reports of uninitialised values are
# off: the release interpreter's own integer code raises them.
VALGRIND       := valgrind -q --error-exitcode=99 --undef-value-errors=no --leak-check=no \
                  --errors-for-leak-kinds=none --suppressions=tests/valgrind.supp

# Versions for test-all-pythons: each one found runs the suite in its own venv and build folder.
PYTHONS ?= 3.11 3.12 3.13
# Sets py to the first interpreter of CPython $$v that runs, pythonX.Y on the path, else
# pyenv's; empty when there is none.
FIND_PYTHON = py=; for p in python$$v $$(pyenv root 2>/dev/null)/versions/$$v.*/bin/python$$v; do \
	  if "$$p" -c '' 2>/dev/null; then py=$$p; break; fi; \
	done

# The newest CPython versions, run inside a Debian unstable root (tools/newest-pythons):
# 3.14d is python3.14's debug interpreter, the modules built against its headers; 3.13
# is the root's own, a later 3.13 than pyenv's.
NEWEST_PYTHONS ?= 3.13 3.14 3.15 3.14d

.PHONY: all install demo test bench clean test-asan test-debug-malloc test-valgrind test-all-pythons \
        test-newest-pythons bench-all-pythons

all: install

# Made again when this file changes, so that an existing venv gets new dependencies.
$(STAMP): Makefile
	$(PYTHON) -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	$(PIP) install -q "scikit-build-core>=0.10" "pytest>=7" "hypothesis>=6" "sortedcontainers>=2.4" "numpy>=1.24" \
	  "mypy>=1.19" "sortedcontainers-stubs>=2.4"
	touch $(STAMP)

# Builds the extensions (incrementally, in $(BUILD_DIR)) and installs the package into the venv.
install: $(STAMP)
	$(PIP) install -q --no-build-isolation --no-deps -Cbuild-dir=$(BUILD_DIR) \
	  -Ccmake.define.VORN_WERROR=$(WERROR) $(INSTALL_ARGS) ".[test]"

demo: install
	$(PY) examples/tour.py

test: install
	$(PY) -m pytest -q $(PYTEST_ARGS)

bench: install
	$(PY) bench/run.py

# The whole suite against modules built with AddressSanitizer and UBSan (-O0 -g).
test-asan:
	$(MAKE) install VENV=$(ASAN_VENV) BUILD_DIR=$(ASAN_BUILD_DIR) \
	  INSTALL_ARGS="-Ccmake.define.VORN_SANITIZE=ON -Ccmake.build-type=Debug"
	$(ASAN_ENV) $(ASAN_VENV)/bin/python -m pytest -q -x $(PYTEST_ARGS)

# The whole suite under the interpreter's debug allocator (buffer overruns, misuse).
test-debug-malloc: install
	PYTHONMALLOC=debug $(PY) -m pytest -q $(PYTEST_ARGS)

# A representative subset under valgrind; any invalid read or write fails the run.
test-valgrind: install
	PYTHONMALLOC=malloc $(VALGRIND) $(PY) -m pytest -q -p no:faulthandler $(VALGRIND_TESTS) $(PYTEST_ARGS)

# The whole suite on every CPython of $(PYTHONS) found: pythonX.Y on the path if it runs,
# else pyenv's. Names the versions it skipped; fails if the suite failed on any.
test-all-pythons:
	@failed=; for v in $(PYTHONS); do \
	  $(FIND_PYTHON); \
	  if [ -z "$$py" ]; then echo "test-all-pythons: skipped CPython $$v (not found)"; continue; fi; \
	  echo "test-all-pythons: CPython $$v ($$py)"; \
	  $(MAKE) --no-print-directory test PYTHON="$$py" VENV=.venv-$$v BUILD_DIR=build/py$$v \
	    || failed="$$failed $$v"; \
	done; \
	if [ -n "$$failed" ]; then echo "test-all-pythons: failed on$$failed"; exit 1; fi

# The whole suite on CPython 3.14, 3.15 and the 3.14 debug interpreter, which need a
# newer C library than this machine's: inside a Debian unstable root that
# tools/newest-pythons makes on first use (about a minute and 1.3 GB, cached in
# ~/.cache/vorn) and keeps. Needs root.
test-newest-pythons:
	WERROR=$(WERROR) PYTEST_ARGS='$(PYTEST_ARGS)' tools/newest-pythons test $(NEWEST_PYTHONS)

# The composite benchmark (its table of ratios) on every CPython found: those of
# test-all-pythons here, then 3.13, 3.14 and 3.15 inside the Debian unstable root (whose
# interpreters are built alike, so that their figures compare).
bench-all-pythons:
	@for v in $(PYTHONS); do \
	  $(FIND_PYTHON); \
	  if [ -z "$$py" ]; then echo "bench-all-pythons: skipped CPython $$v (not found)"; continue; fi; \
	  $(MAKE) --no-print-directory install PYTHON="$$py" VENV=.venv-$$v BUILD_DIR=build/py$$v \
	    && .venv-$$v/bin/python bench/bench_composites.py $(BENCH_ARGS) || exit 1; \
	done
	tools/newest-pythons bench 3.13 3.14 3.15

clean:
	rm -rf build $(VENV) $(ASAN_VENV) $(foreach v,$(PYTHONS),.venv-$(v)) .venv-sid-*
