// The picture "FS.svg": the Fermi contours of one plane of the grid (contours.hpp) as a
// plain SVG drawing that any browser opens and any paper scales, made without a display.
//
// It shows the plane's zone (its Wigner-Seitz cell) with the zone centre marked, each band's
// contours as one path in a colour of its own (those of spin component 2 dashed), a legend
// ("band 3", "band 4 of spin component 2", counting bands from 1 as the band-grid file
// does; a band that crosses Ef elsewhere than in this plane is listed with "no contour in
// this plane"), the axes in 1/A (2 pi included; x along b1, y perpendicular to it, the
// plane's own frame), and a title with Ef and the plane: the whole Fermi surface of a mesh
// with one point along b3, else the cut of the 3D mesh through the zone centre (or the
// plane parallel to it where a shifted mesh has its points).
#pragma once

#include "contours.hpp"
#include "grid.hpp"

#include <cstdio>
#include <string>

namespace bandcut {

// The title line for the contours `c` of grid `g`.
std::string svg_title(const contour_set& c, const grid& g);

// Writes the picture; false if a write failed.
bool write_svg(std::FILE* out, const contour_set& c, const grid& g);

}  // namespace bandcut
