"""The module occsolve against the C interface: the same level, the same status, bit for
bit; arrays of every shape and layout; several threads at once."""
import ctypes
import threading
import time
import tracemalloc

import numpy as np
import pytest

import occsolve


class Bands(ctypes.Structure):
    """occsolve_bands of occsolve.h."""
    _fields_ = [("nspin", ctypes.c_int32), ("nband", ctypes.c_int32), ("nk", ctypes.c_int32),
                ("extent", ctypes.c_int64 * 3), ("energy", ctypes.POINTER(ctypes.c_double)),
                ("weight", ctypes.POINTER(ctypes.c_double))]


@pytest.fixture(scope="module")
def c(c_library):
    lib = ctypes.CDLL(c_library)
    lib.occsolve_find_level.argtypes = [ctypes.POINTER(Bands), ctypes.c_double, ctypes.c_double,
                                        ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_double),
                                        ctypes.POINTER(ctypes.c_double)]
    lib.occsolve_find_bracket.argtypes = [ctypes.POINTER(Bands), ctypes.c_double, ctypes.POINTER(ctypes.c_double),
                                          ctypes.POINTER(ctypes.c_double)]
    for f in (lib.occsolve_fermi, lib.occsolve_dfermi):
        f.argtypes = [ctypes.c_double, ctypes.c_double, ctypes.c_double, ctypes.c_int32]
        f.restype = ctypes.c_double
    return lib


def c_search(lib, e, w, electrons, t, bracket=True):
    """The C interface's bracket and level for e (k-points, bands, spins) and weights w;
    without `bracket`, the level of the C call given none (the data's own)."""
    nk, nband, nspin = e.shape
    pointer = ctypes.POINTER(ctypes.c_double)
    bands = Bands(nspin, nband, nk, (ctypes.c_int64 * 3)(nspin, nband, nk), e.ctypes.data_as(pointer),
                  w.ctypes.data_as(pointer))
    lo, hi, level = ctypes.c_double(), ctypes.c_double(), ctypes.c_double()
    assert lib.occsolve_find_bracket(ctypes.byref(bands), t, ctypes.byref(lo), ctypes.byref(hi)) == occsolve.CONVERGED
    ends = (ctypes.byref(lo), ctypes.byref(hi)) if bracket else (None, None)
    status = lib.occsolve_find_level(ctypes.byref(bands), t, electrons, *ends, ctypes.byref(level))
    return level.value, status


def structure(seed, nk, nband, nspin):
    rng = np.random.default_rng(seed)
    e = np.sort(rng.uniform(-10, 15, (nk, nband, nspin)), axis=1)
    w = rng.uniform(1, 2, nk)
    return e, w / w.sum()


SHAPES = [(40, 60, 2, 300.0), (200, 30, 1, 3000.0), (7, 9, 1, 1e5), (64, 64, 1, 30.0), (33, 65, 2, 1e7)]


@pytest.mark.parametrize("nk, nband, nspin, t", SHAPES)
def test_levels_are_the_c_interfaces_bit_for_bit(c, nk, nband, nspin, t):
    e, w = structure(nk * nband, nk, nband, nspin)
    electrons = 0.4 * nband * (2.0 / nspin) * nspin
    level, status = occsolve.find_level(e, w, temperature=t, electrons=electrons)
    assert (level, status) == c_search(c, e, w, electrons, t)
    assert np.float64(level).tobytes() == np.float64(c_search(c, e, w, electrons, t)[0]).tobytes()
    # No bracket given: the data's own in C as in Python, not 2 to 20 eV.
    assert np.float64(level).tobytes() == np.float64(c_search(c, e, w, electrons, t, bracket=False)[0]).tobytes()
    assert status == occsolve.CONVERGED
    assert abs(occsolve.electron_count(e, w, temperature=t, level=level) - electrons) < 1e-8


def test_the_occupation_functions_are_the_c_interfaces(c):
    energies = np.linspace(-1, 1, 41)
    for t, nspin in ((300.0, 1), (1e4, 2), (5.0, 2)):
        f = occsolve.fermi(energies, 0.1, t, nspin)
        d = occsolve.dfermi(energies, 0.1, t, nspin)
        assert f.shape == d.shape == energies.shape
        assert list(f) == [c.occsolve_fermi(x, 0.1, t, nspin) for x in energies]
        assert list(d) == [c.occsolve_dfermi(x, 0.1, t, nspin) for x in energies]
    # A spin count is 1 or 2: none other is evaluated, one beyond 32 bits is not wrapped.
    for nspin in (0, -1, 3, 2**31, [1, 2, 2**31 + 1]):
        for function in (occsolve.fermi, occsolve.dfermi):
            with pytest.raises(ValueError, match="nspin must be 1 or 2"):
                function(energies[:3], 0.1, 300.0, nspin)


# Arrays as callers hold them: converted to C-contiguous float64 (a copy, with the same
# bits) or refused with a message that says what is wanted.
def test_arrays_are_converted_or_refused():
    e, w = structure(1, 30, 12, 2)
    expected = occsolve.find_level(e, w, temperature=300.0, electrons=10.0)
    fortran = np.asfortranarray(e)
    sliced = np.zeros((30, 12, 4))[:, :, ::2]
    sliced[...] = e
    as_float32 = e.astype(np.float32)
    for converted in (fortran, sliced, e.tolist()):
        assert occsolve.find_level(converted, w, temperature=300.0, electrons=10.0) == expected
    assert occsolve.find_level(as_float32, w, temperature=300.0, electrons=10.0) == occsolve.find_level(as_float32.astype(np.float64), w, temperature=300.0, electrons=10.0)
    one_spin = e[:, :, 0].copy()
    assert occsolve.find_level(one_spin, w, temperature=300.0, electrons=10.0) == occsolve.find_level(one_spin[:, :, None], w, temperature=300.0, electrons=10.0)
    refused = [(e[:, 0, 0], w, "shape \\(k-points, bands, spins\\)"), (e[..., None], w, "shape"),
               (e, w[:-1], "one entry per k-point \\(30\\)"), (e, w[:, None], "one entry per k-point")]
    for energies, weights, words in refused:
        with pytest.raises(ValueError, match=words):
            occsolve.find_level(energies, weights, temperature=300.0, electrons=10.0)
    with pytest.raises(ValueError, match="cannot use"):
        occsolve.find_level(e, w, temperature=300.0, electrons=float("nan"))
    with pytest.raises(ValueError, match="no bracket"):
        occsolve.find_bracket(e, w, temperature=-1.0)
    level, status = occsolve.find_level(e, w, temperature=300.0, electrons=10.0, bracket=(20.0, 30.0))  # the level lies below it
    assert status == occsolve.STALLED


def test_a_c_contiguous_float64_array_is_not_copied():
    e, w = structure(2, 2000, 200, 2)  # 6.4 MB
    tracemalloc.start()
    occsolve.find_level(e, w, temperature=300.0, electrons=100.0)
    occsolve.electron_count(e, w, temperature=300.0, level=1.0)
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    assert peak < e.nbytes / 10
    tracemalloc.start()
    occsolve.electron_count(np.asfortranarray(e), w, temperature=300.0, level=1.0)  # the conversion is seen
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    assert peak >= e.nbytes


# The temperature and the level (or electrons) by keyword only: a call in the order of an
# earlier release fails loudly rather than swapping them.
def test_the_temperature_and_level_are_keywords():
    e, w = structure(1, 4, 3, 1)
    for call in (lambda: occsolve.find_level(e, w, 300.0, 2.0), lambda: occsolve.electron_count(e, w, 300.0, 1.0),
                 lambda: occsolve.find_bracket(e, w, 300.0)):
        with pytest.raises(TypeError):
            call()


# A count over some ten million states: another Python thread runs meanwhile, as much as
# while the interpreter's lock is free (held, it would not run at all).
def test_a_count_lets_other_threads_run():
    e, w = structure(8, 50000, 100, 2)
    ticks, stop = [0], [False]

    def spin():
        while not stop[0]:
            ticks[0] += 1

    spinner = threading.Thread(target=spin)
    spinner.start()
    time.sleep(0.05)
    before, start = ticks[0], time.perf_counter()
    time.sleep(0.05)
    rate = (ticks[0] - before) / (time.perf_counter() - start)
    before, start = ticks[0], time.perf_counter()
    occsolve.electron_count(e, w, temperature=1e5, level=1.0)
    during, took = ticks[0] - before, time.perf_counter() - start
    stop[0] = True
    spinner.join()
    assert took > 0.02, "the count is too short to tell"
    assert during > rate * took / 10


def test_two_threads_at_once_get_their_single_threaded_answers():
    problems = [structure(seed, 400, 80, 2) for seed in (3, 4)]
    alone = [occsolve.find_level(e, w, temperature=500.0, electrons=60.0) for e, w in problems]
    got = [[None] * 5 for _ in problems]

    def search(i):
        e, w = problems[i]
        for r in range(5):
            got[i][r] = occsolve.find_level(e, w, temperature=500.0, electrons=60.0)

    threads = [threading.Thread(target=search, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == [[a] * 5 for a in alone]


# bandcut's grid layout (spins, bands, nkx, nky, nkz), float32 as Cut.energies holds it,
# with uniform weights by default: the same bits as the (k-points, bands, spins) layout
# the caller would make; the result unpacks as a pair and names its fields.
def test_the_grid_layout_and_uniform_weights_are_the_arrays_layout():
    rng = np.random.default_rng(11)
    for spins in (1, 2):
        grid = (rng.random((spins, 6, 4, 3, 5)) * 10 - 5).astype(np.float32)
        states = np.ascontiguousarray(grid.reshape(spins, 6, -1).transpose(2, 1, 0), dtype=np.float64)
        weights = np.full(states.shape[0], 1.0 / states.shape[0])
        electrons = 3.0 * (2.0 / spins) * spins / 2
        got = occsolve.find_level(grid, electrons=electrons, temperature=500.0)
        assert got == occsolve.find_level(states, weights, temperature=500.0, electrons=electrons)
        assert np.float64(got.level).tobytes() == np.float64(occsolve.find_level(states, weights, temperature=500.0, electrons=electrons)[0]).tobytes()
        level, status = got
        assert (level, status) == (got.level, got.status) and got.converged and status == occsolve.Status.CONVERGED
        assert isinstance(got.status, occsolve.Status)
        assert occsolve.electron_count(grid, None, temperature=500.0, level=level) == occsolve.electron_count(states, weights, temperature=500.0, level=level)
        assert occsolve.find_bracket(grid, temperature=500.0) == occsolve.find_bracket(states, weights, temperature=500.0)
    stalled = occsolve.find_level(grid, electrons=3.0, temperature=500.0, bracket=(20.0, 30.0))
    assert stalled.status == occsolve.STALLED and not stalled.converged
    with pytest.raises(ValueError, match="nkx, nky, nkz"):
        occsolve.find_level(grid[0], electrons=1.0, temperature=300.0)  # four axes
