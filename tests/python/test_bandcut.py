"""The module bandcut against the program: the same grid, the same file, the same words."""
import os
import pathlib
import shutil
import stat
import subprocess
import sys
import xml.etree.ElementTree

import numpy as np
import pytest

import bandcut
import symmetric_listings
from conftest import GOLDEN


def run_program(program, folder, mesh, ef, *options):
    p = subprocess.run([program, *map(str, mesh), repr(ef), *options], cwd=folder, capture_output=True, text=True,
                       timeout=60)
    return p.returncode, p.stdout.splitlines(), p.stderr.splitlines()


def listing(tmp_path, case):
    """A folder holding the case's listing: a golden one, or one the generator writes."""
    folder = tmp_path / "run"
    folder.mkdir()
    if case in symmetric_listings.CASES:
        symmetric_listings.write_case(case, str(tmp_path / "generated"))
        shutil.copy(tmp_path / "generated" / "reduced" / "OUTCAR", folder / "OUTCAR")
    else:
        shutil.copy(os.path.join(GOLDEN, case, "OUTCAR"), folder / "OUTCAR")
    return folder


def bandgrid_values(text):
    """The band sections of a band-grid file: {band number: [values in file order]}."""
    bands, current = {}, None
    for line in text.splitlines():
        words = line.split()
        if words[:1] == ["BAND:"]:
            current = bands.setdefault(int(words[1]), [])
        elif words[:1] == ["END_BANDGRID_3D"]:
            current = None
        elif current is not None:
            current += words
    return bands


# Placement, a spin-polarised listing, unfolding with spin components swapped, listing order.
# The hexagonal one's reciprocal vectors are no symmetric matrix: rows are B1, B2, B3.
CASES = [("grid_first_index_fastest", (2, 3, 2), 0.0, "placed"),
         ("hex_table", (6, 6, 4), 3.0, "unfolded"),
         ("spin_polarised", (1, 1, 2), 3.0, "placed"),
         ("altermagnet_table", (4, 4, 4), 3.0, "unfolded"),
         ("irreducible_wedge", (2, 3, 2), 0.0, "listing order")]


@pytest.mark.parametrize("case, mesh, ef, route", CASES)
def test_the_grid_and_the_file_are_the_programs(tmp_path, program, case, mesh, ef, route):
    folder = listing(tmp_path, case)
    status, out, err = run_program(program, folder, mesh, ef)
    assert status == 0
    cut = bandcut.read(str(folder / "OUTCAR"), mesh=mesh, ef=ef)
    assert cut.route == route
    # The listing's own Fermi energy, the first number after "E-fermi :", and the default ef.
    marker = next(l for l in (folder / "OUTCAR").read_text().splitlines() if "E-fermi" in l)
    assert cut.listing_ef == np.float32(marker.split(":")[1].split()[0])
    assert cut.selection_ef == np.float32(ef)
    assert bandcut.read(str(folder / "OUTCAR"), mesh=mesh).selection_ef == cut.listing_ef
    assert cut.echo == out
    assert [n.text for n in cut.notes] == err
    assert [n.kind for n in cut.notes] == [l.split(":")[1].strip() for l in err]
    # Every value of the program's closed grid is the array's at its mesh point.
    spins, nbands = cut.energies.shape[:2]
    assert cut.energies.dtype == np.float32 and cut.energies.shape == (spins, nbands, *mesh)
    written = bandgrid_values((folder / "FS.bsxf").read_text())
    assert sorted(written) == [s * nbands + b + 1 for s, b in cut.bands_crossing()]
    for number, values in written.items():
        s, b = divmod(number - 1, nbands)
        grid = cut.energies[s, b]
        closed = [grid[ix % mesh[0], iy % mesh[1], iz % mesh[2]] for ix in range(mesh[0] + 1)
                  for iy in range(mesh[1] + 1) for iz in range(mesh[2] + 1)]
        assert values == ["%f" % v for v in closed]
    # The module writes the program's files, byte for byte.
    cut.write_bandgrid(str(tmp_path / "module.bsxf"))
    assert (tmp_path / "module.bsxf").read_bytes() == (folder / "FS.bsxf").read_bytes()
    assert run_program(program, folder, mesh, ef, "--frmsf")[0] == 0
    cut.write_frmsf(tmp_path / "module.frmsf")
    assert (tmp_path / "module.frmsf").read_bytes() == (folder / "FS.frmsf").read_bytes()
    # The picture: the program's, byte for byte; well-formed, one path and one legend entry
    # a band crossing Ef; the zone as large as the plane's cell (B1 x B2, 2 pi included).
    assert run_program(program, folder, mesh, ef, "--svg")[0] == 0
    if route == "listing order":
        assert not (folder / "FS.svg").exists()
        with pytest.raises(ValueError, match="listing order"):
            cut.contours()
    else:
        cut.write_svg(tmp_path / "module.svg")
        assert (tmp_path / "module.svg").read_bytes() == (folder / "FS.svg").read_bytes()
        svg = {"svg": "http://www.w3.org/2000/svg"}
        root = xml.etree.ElementTree.parse(folder / "FS.svg").getroot()
        contours = cut.contours()
        assert sorted(contours.lines) == cut.bands_crossing()
        assert len(root.findall("svg:path[@class='contour']", svg)) == len(contours.lines)
        assert [t.text for t in root.findall("svg:g[@class='legend']/svg:text", svg)] == [
            "band %d%s%s" % (b + 1, " of spin component 2" if s else "", "" if lines else " (no contour in this plane)")
            for (s, b), lines in sorted(contours.lines.items())]
        z = contours.zone
        assert z.dtype == np.float64 and z.shape[1] == 2
        area = np.sum(z[:, 0] * np.roll(z[:, 1], -1) - np.roll(z[:, 0], -1) * z[:, 1]) / 2
        assert area == pytest.approx(4 * np.pi ** 2 * np.linalg.norm(np.cross(cut.reciprocal[0], cut.reciprocal[1])))
        for lines in contours.lines.values():
            assert all(line.dtype == np.float64 and line.ndim == 2 and line.shape[1] == 2 for line in lines)
    # The velocities: one Cartesian vector a mesh point, zero along an axis of one or two points.
    v = cut.velocity(0, 0)
    assert v.shape == (*mesh, 3) and v.dtype == np.float64
    for axis in range(3):
        if mesh[axis] <= 2 and np.allclose(cut.reciprocal[axis], cut.reciprocal[axis] * np.eye(3)[axis]):
            assert np.all(v[..., axis] == 0)
    assert len(cut.shift) == 3 and cut.mesh == tuple(mesh)
    # Each mesh point where the listing's k-point lies (four printed decimals), modulo 1.
    k = cut.kpoints
    assert k.shape == (*mesh, 3)
    if route == "placed":
        listed = [[float(x) for x in l.split(":")[1].split()[:3]]
                  for l in (folder / "OUTCAR").read_text().splitlines() if l.startswith(" k-point") and ":" in l
                  and "plane waves" not in l][:k[..., 0].size]
        d = np.array(listed)[:, None, :] - k.reshape(-1, 3)[None, :, :]
        assert np.all(np.min(np.abs(d - np.round(d)).max(axis=2), axis=1) < 1.1e-4)
    echoed = [[float(x) for x in l.split()[1:]] for l in out if l[:2] in ("B1", "B2", "B3")]
    assert cut.reciprocal.shape == (3, 3) and np.allclose(cut.reciprocal, echoed, atol=5e-7)


@pytest.mark.parametrize("case, mesh, reason, cause", [("truncated_block", (1, 2, 2), "listing_ends", ""),
                                                       ("grid_too_large", (2, 2, 2), "too_few_kpoints", "four_decimals"),
                                                       ("band_without_energy", (1, 2, 2), "bad_band_line", ""),
                                                       ("identity_replaced", (5, 5, 5), "too_few_kpoints", "no_identity"),
                                                       ("stripes_unprinted", (4, 4, 2), "too_few_kpoints", "reached_twice")])
def test_a_refusal_raises_with_the_programs_words(tmp_path, monkeypatch, program, case, mesh, reason, cause):
    folder = listing(tmp_path, case)
    status, out, _ = run_program(program, folder, mesh, 4.25)
    assert status == 1
    monkeypatch.chdir(folder)  # the message names the file as it was given
    with pytest.raises(bandcut.Refused) as refused:
        bandcut.read("OUTCAR", mesh=mesh, ef=4.25)
    assert isinstance(refused.value, ValueError)
    assert str(refused.value) == out[-1]
    assert refused.value.reason == reason
    assert refused.value.cause == cause
    assert out[-1].startswith(f"OUTCAR:{refused.value.line}: ")  # the line the words name


def test_files_that_cannot_be_read_or_written_raise_oserror(tmp_path):
    with pytest.raises(OSError, match="cant open"):
        bandcut.read(str(tmp_path / "none"), mesh=(1, 1, 1))
    with pytest.raises(OSError, match="a read error"):
        bandcut.read(str(tmp_path), mesh=(1, 1, 1))  # a folder
    cut = bandcut.read(os.path.join(GOLDEN, "single_point", "OUTCAR"), mesh=(1, 1, 1), ef=10.0)
    with pytest.raises(OSError):
        cut.write_bandgrid(str(tmp_path / "no such folder" / "FS.bsxf"))
    # Bands counting from 0 below NBANDS (3 here), spin components below the listing's (1).
    for spin, band in ((0, 3), (0, 7), (1, 0), (-1, 0), (0, -1)):
        with pytest.raises(ValueError, match=f"no band {band} of spin component {spin}"):
            cut.write_bandgrid(str(tmp_path / "FS.bsxf"), bands=[(0, 0), (spin, band)])
    with pytest.raises(TypeError):
        bandcut.read(os.path.join(GOLDEN, "single_point", "OUTCAR"))  # no mesh
    with pytest.raises(TypeError):
        bandcut.read(os.path.join(GOLDEN, "single_point", "OUTCAR"), (1, 1, 1))  # the mesh by keyword only
    # Only a regular file is replaced: a FIFO (as a device would be) is named, left as it is.
    os.mkfifo(tmp_path / "fifo")
    with pytest.raises(OSError, match="a FIFO is there, not a regular file"):
        cut.write_bandgrid(tmp_path / "fifo")
    assert stat.S_ISFIFO(os.lstat(tmp_path / "fifo").st_mode)
    os.remove(tmp_path / "fifo")
    # A NUL byte would end the path early, naming another file: refused as open() refuses it.
    (tmp_path / "FSnul").write_text("kept")
    for nul in (str(tmp_path / "FSnul\x00.txt"), os.fsencode(tmp_path / "FSnul\x00.txt")):
        with pytest.raises(ValueError, match="null byte"):
            cut.write_bandgrid(nul)
        with pytest.raises(ValueError, match="null byte"):
            bandcut.read(nul, mesh=(1, 1, 1))
    assert (tmp_path / "FSnul").read_text() == "kept"
    os.remove(tmp_path / "FSnul")
    assert os.listdir(tmp_path) == []  # no temporary file left behind


# The interpreter keeps its own signal handlers while a file is written: a SIGTERM that
# arrives meanwhile runs the script's handler once the call returns, and the file is whole.
def test_writing_keeps_the_interpreters_signal_handlers(tmp_path):
    script = f"""
import os, signal, sys, threading
sys.path[:0] = {sys.path!r}
import bandcut
got = []
signal.signal(signal.SIGTERM, lambda *a: got.append("handled"))
cut = bandcut.read({os.path.join(GOLDEN, "single_point", "OUTCAR")!r}, mesh=(1, 1, 1), ef=10.0)
threading.Timer(0.001, lambda: os.kill(os.getpid(), signal.SIGTERM)).start()
for i in range(3000):
    cut.write_bandgrid({str(tmp_path / "FS.bsxf")!r})
    if got:
        break
print(got[0] if got else "no signal", i)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("handled")
    assert sorted(os.listdir(tmp_path)) == ["FS.bsxf"]


# Reading a listing from a pipe that another thread of the script fills: the reader lets
# the interpreter run (holding its lock, it would wait for the writer for ever).
def test_reading_lets_other_threads_run(tmp_path):
    script = f"""
import os, sys, threading
sys.path[:0] = {sys.path!r}
import bandcut
fifo = {str(tmp_path / "OUTCAR")!r}
os.mkfifo(fifo)
text = open({os.path.join(GOLDEN, "single_point", "OUTCAR")!r}, "rb").read()
def fill():
    with open(fifo, "wb") as f:
        f.write(text)
threading.Thread(target=fill).start()
print(bandcut.read(fifo, mesh=(1, 1, 1), ef=10.0).route)
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "placed"


def test_the_energies_cannot_be_changed_from_outside(tmp_path):
    cut = bandcut.read(pathlib.Path(GOLDEN) / "single_point" / "OUTCAR", mesh=(1, 1, 1), ef=10.0)
    before = cut.energies.copy()
    with pytest.raises(ValueError, match="read-only"):
        e = cut.energies
        e -= 1.0
    assert np.array_equal(cut.energies, before)
    cut.write_bandgrid(tmp_path / "FS.bsxf")  # path-like
    assert (tmp_path / "FS.bsxf").read_text().startswith("BEGIN_INFO")
