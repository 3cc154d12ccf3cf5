# Set-up and everyday commands. `make demo` and `make test` work on a fresh machine.
PYTHON    ?= python3.11
VENV      ?= .venv
BUILD_DIR ?= build/release
PY        := $(VENV)/bin/python
PIP       := $(PY) -m pip --disable-pip-version-check
STAMP     := $(VENV)/.deps-installed
PYTEST_ARGS ?=

.PHONY: all install demo test bench clean

all: install

$(STAMP):
	$(PYTHON) -m venv $(VENV)
	$(PIP) install -q --upgrade pip
	$(PIP) install -q "scikit-build-core>=0.10" "pytest>=7" "hypothesis>=6" "sortedcontainers>=2.4" "numpy>=1.24"
	touch $(STAMP)

# Builds the extensions (incrementally, in $(BUILD_DIR)) and installs the package into the venv.
install: $(STAMP)
	$(PIP) install -q --no-build-isolation --no-deps -Cbuild-dir=$(BUILD_DIR) ".[test]"

demo: install
	$(PY) examples/tour.py

test: install
	$(PY) -m pytest -q $(PYTEST_ARGS)

bench: install
	$(PY) bench/run.py

clean:
	rm -rf build $(VENV)
