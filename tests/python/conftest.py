"""Where the tests find what they test: the modules (on PYTHONPATH), the program, the
golden listings, the generator of symmetric listings, the C interface as a shared library."""
import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, "..", "bandcut", "golden")
sys.path.insert(0, os.path.join(HERE, "..", "bandcut"))


@pytest.fixture(scope="session")
def program():
    return os.environ["BANDCUT_EXE"]


@pytest.fixture(scope="session")
def c_library():
    return os.environ["OCCSOLVE_C_LIBRARY"]
