// The k-point mesh of a calculation, as the command line gives it (bandcut::grid, of the
// public header): nkx x nky x nkz points along the reciprocal vectors b1, b2, b3.  Mesh
// point (ix, iy, iz), each index counting from 0, is point n = (ix * nky + iy) * nkz + iz:
// the third index fastest, the order in which the band-grid file lists its values.
#pragma once

#include <bandcut/cut.hpp>

#include <cstdint>

namespace bandcut {


// What a grid point takes from the listing: the band energies of the listed k-point
// `kpoint()` (counting from 0), its two spin components swapped where `swapped()` (a point
// that only an operation reversing the moments reaches).  The map makes them; every
// consumer reads them through these accessors.
class grid_entry {
public:
    constexpr grid_entry() = default;
    constexpr grid_entry(std::int32_t kpoint, bool swapped) : kpoint_(kpoint), swapped_(swapped) {}
    constexpr std::int32_t kpoint() const { return kpoint_; }
    constexpr bool swapped() const { return swapped_; }
    // The spin component whose energies spin component s takes here.
    constexpr int spin(int s) const { return swapped_ ? 1 - s : s; }
    // The entry's place where the writers gather them: k, or NKPTS + k where swapped.
    constexpr std::int64_t slot(std::int32_t nkpts) const { return kpoint_ + (swapped_ ? std::int64_t{nkpts} : 0); }
    friend constexpr bool operator==(const grid_entry&, const grid_entry&) = default;

private:
    std::int32_t kpoint_ = 0;
    bool swapped_ = false;
};

}  // namespace bandcut
