"""Fermi-Dirac occupations and the Fermi level of a band structure in NumPy arrays (see the module's help)."""
from typing import Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

CONVERGED: int
STALLED: int
UNUSABLE: int

def find_level(energies: npt.ArrayLike, weights: npt.ArrayLike, electrons: float, temperature: float,
               bracket: Optional[Tuple[float, float]] = None) -> Tuple[float, int]:
    """The Fermi level (eV) holding `electrons` at `temperature` (K), and CONVERGED or STALLED; raises ValueError."""
def electron_count(energies: npt.ArrayLike, weights: npt.ArrayLike, level: float, temperature: float) -> float:
    """The electron count at `level` (eV) and `temperature` (K)."""
def energy_bracket(energies: npt.ArrayLike, weights: npt.ArrayLike, temperature: float) -> Tuple[float, float]:
    """(lo, hi) in eV holding the level for every electron count; raises ValueError."""
def fermi(energy: npt.ArrayLike, level: npt.ArrayLike, temperature: npt.ArrayLike,
          nspin: npt.ArrayLike) -> Union[float, npt.NDArray[np.float64]]:
    """Electrons in a state, elementwise."""
def dfermi(energy: npt.ArrayLike, level: npt.ArrayLike, temperature: npt.ArrayLike,
           nspin: npt.ArrayLike) -> Union[float, npt.NDArray[np.float64]]:
    """A state's broadening weight, electrons per eV, elementwise."""
