"""Fermi-Dirac occupations and the Fermi level of a band structure in NumPy arrays (see the module's help)."""
import enum
from typing import NamedTuple, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

class Status(enum.IntEnum):
    CONVERGED = 0
    STALLED = 1
    UNUSABLE = 2

CONVERGED: Status
STALLED: Status
UNUSABLE: Status

class Level(NamedTuple):
    """find_level's result: unpacks as (level, status)."""
    level: float
    status: Status
    @property
    def converged(self) -> bool: ...

def find_level(energies: npt.ArrayLike, weights: Optional[npt.ArrayLike] = None, *, temperature: float,
               electrons: float, bracket: Optional[Tuple[float, float]] = None) -> Level:
    """The Fermi level (eV) holding `electrons` at `temperature` (K); energies (k, band, spin), (k, band) or
    bandcut's (spin, band, nkx, nky, nkz); weights None: uniform.  Raises ValueError."""
def electron_count(energies: npt.ArrayLike, weights: Optional[npt.ArrayLike] = None, *, temperature: float,
                   level: float) -> float:
    """The electron count at `temperature` (K) and `level` (eV)."""
def find_bracket(energies: npt.ArrayLike, weights: Optional[npt.ArrayLike] = None, *,
                 temperature: float) -> Tuple[float, float]:
    """(lo, hi) in eV holding the level for every electron count; raises ValueError."""
def fermi(energy: npt.ArrayLike, level: npt.ArrayLike, temperature: npt.ArrayLike,
          nspin: npt.ArrayLike) -> Union[float, npt.NDArray[np.float64]]:
    """Electrons in a state, elementwise; nspin 1 or 2."""
def dfermi(energy: npt.ArrayLike, level: npt.ArrayLike, temperature: npt.ArrayLike,
           nspin: npt.ArrayLike) -> Union[float, npt.NDArray[np.float64]]:
    """A state's broadening weight, electrons per eV, elementwise; nspin 1 or 2."""
