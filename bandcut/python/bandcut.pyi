"""Band energies of a finished calculation over its full k-point grid (see the module's help)."""
import os
from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

class Cut:
    """The grid bandcut.read made, and what it said."""

    @property
    def energies(self) -> npt.NDArray[np.float32]:
        """(spin components, bands, nkx, nky, nkz), eV: every band of every spin component at every mesh point."""
    @property
    def reciprocal(self) -> npt.NDArray[np.float64]:
        """(3, 3), 1/A without 2 pi: b1, b2, b3 as rows."""
    @property
    def listing_ef(self) -> float:
        """The listing's own Fermi energy, eV (its E-fermi line; nan when it prints none)."""
    @property
    def selection_ef(self) -> float:
        """The Fermi energy, eV, the bands are chosen by: read's ef, or the listing's."""
    @property
    def route(self) -> str:
        """"placed", "unfolded" or "listing order"."""
    @property
    def echo(self) -> List[str]:
        """The lines the program prints on standard output for this run."""
    @property
    def notes(self) -> List["Note"]:
        """The notes and warnings, each a Note(kind, text)."""
    @property
    def mesh(self) -> Tuple[int, int, int]:
        """(nkx, nky, nkz)."""
    @property
    def kpoints(self) -> npt.NDArray[np.float64]:
        """(nkx, nky, nkz, 3): each mesh point in units of the reciprocal vectors."""
    @property
    def shift(self) -> Tuple[float, float, float]:
        """The mesh's shift off the zone centre, steps along b1, b2, b3 (0 or 0.5)."""
    def velocity(self, spin: int, band: int) -> npt.NDArray[np.float64]:
        """(nkx, nky, nkz, 3), m/s: grad_k E / hbar of one band by central differences."""
    def sheets(self, ef: Optional[float] = None) -> npt.NDArray[np.void]:
        """One record per sheet crossing ef: sheet, spin, band, electrons, holes, carrier, carriers_per_cm3, dos."""
    def electrons_below(self, ef: float) -> float:
        """Electrons per cell below ef on the grid, every band counted."""
    def level_for(self, electrons: float) -> Optional[float]:
        """The level (eV) at which the grid holds `electrons` per cell; None when none does."""
    def write_frmsf(self, path: Union[str, bytes, os.PathLike], ef: Optional[float] = None,
                    bands: Optional[Sequence[Tuple[int, int]]] = None) -> None:
        """Writes FS.frmsf as the program writes it with --frmsf; raises OSError, ValueError."""
    def contours(self, ef: Optional[float] = None, plane: int = 0) -> "Contours":
        """The Fermi contours in one plane of the mesh (1/A with 2 pi, x along b1); raises ValueError."""
    def write_svg(self, path: Union[str, bytes, os.PathLike], ef: Optional[float] = None, plane: int = 0) -> None:
        """Writes the contours' picture as the program writes FS.svg with --svg; raises OSError, ValueError."""
    def bands_crossing(self, ef: Optional[float] = None) -> List[Tuple[int, int]]:
        """(spin, band) pairs, counting from 0, of the bands that cross ef (eV)."""
    def write_bandgrid(self, path: Union[str, bytes, os.PathLike], ef: Optional[float] = None,
                       bands: Optional[Sequence[Tuple[int, int]]] = None) -> None:
        """Writes the band-grid file as the program writes it; raises OSError, ValueError."""

class Note(NamedTuple):
    kind: str  # "note" or "warning"
    text: str

class Refused(ValueError):
    """The listing does not give the grid: str() the program's line, .reason why, .line the listing's line (0: none),
    .cause why the k-points were neither placed nor unfolded ("" when that is not why)."""
    reason: str
    line: int
    cause: str
    def __init__(self, text: str, reason: str, line: int, cause: str = "") -> None: ...

class Contours(NamedTuple):
    zone: npt.NDArray[np.float64]  # (m, 2), the plane's Wigner-Seitz cell, counter-clockwise
    lines: Dict[Tuple[int, int], List[npt.NDArray[np.float64]]]  # (spin, band) -> (n, 2) polylines
    ef: float
    plane: int

def read(path: Union[str, bytes, os.PathLike] = "OUTCAR", *, mesh: Tuple[int, int, int], ef: Optional[float] = None) -> Cut:
    """Reads the listing and makes the mesh (nkx, nky, nkz); raises Refused, a ValueError (the listing), OSError (the file)."""
