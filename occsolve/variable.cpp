#include "occsolve/variable.hpp"

namespace occsolve::variable {

std::int32_t nspin = 0;
std::int32_t nk = 0;
std::int32_t nband = 0;
double t = 0;
double totale = 0;
double efermi = 0;

allocatable<double, 3> bandenergy;
allocatable<double, 1> kwpt;

std::int32_t ik = 0;
std::int32_t iband = 0;
std::int32_t ispin = 0;

std::int32_t i = 0, j = 0, k = 0, l = 0;
std::int32_t ivec = 0, eof = 0;
double scales = 0, volume = 0;
double vec[3][3] = {};

}  // namespace occsolve::variable
