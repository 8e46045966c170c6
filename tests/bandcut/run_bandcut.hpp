// Runs the built bandcut in a scratch folder of its own, as a user runs it, and gives
// back everything it did: its status, both output streams, the FS.bsxf it left and any
// other file it left behind.  Also writes listings for it to read.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bandcut_test {

// What an existing FS.bsxf holds before a run; a failed run must leave it so.
inline const std::string previous_file = "previous band grid, must survive a failed run\n";

struct run_result {
    int status = -1;                // exit status, or 128 + signal
    long max_rss_kib = 0;           // the run's peak memory
    std::string out, err;
    std::optional<std::string> fs;  // FS.bsxf afterwards, if there is one
    std::vector<std::string> left;  // other files in the folder besides OUTCAR and FS.bsxf
};

// Runs bandcut with `args` in a new folder holding `outcar` as OUTCAR (none when absent)
// and `previous_file` as FS.bsxf.  `prepare` (if given) runs in the child just before
// the program starts, in the folder (to set limits, say); `during` (if given) runs in the
// test while the program runs, with its process id and folder.
run_result run_bandcut(const std::vector<std::string>& args, const std::optional<std::string>& outcar,
                       const std::function<void()>& prepare = {},
                       const std::function<void(int pid, const std::string& folder)>& during = {});

// One k-point block of a listing: coordinates (in units of the reciprocal vectors) and
// band energies, printed as listings print them (4 decimals each).
struct kpoint {
    std::array<double, 3> c;
    std::vector<double> e;
};

// A listing in the current layout: dimension line, lattice block (a cubic cell of 3 A
// unless `lattice` gives the six numbers of each row), "E-fermi", the blocks; `sets`
// copies of the eigenvalue section, as a relaxation prints one per ionic step.
std::string listing_text(const std::vector<kpoint>& blocks, int sets = 1, const std::string& lattice = {});

// Every point of an n1 x n2 x n3 mesh shifted by `shift` steps, listed first index
// fastest with coordinates wrapped into (-1/2, 1/2], energies from `energy` of the
// unwrapped grid indices.
std::vector<kpoint> mesh(int n1, int n2, int n3, double shift,
                         const std::function<std::vector<double>(int, int, int)>& energy);
// The same with a shift of its own along each axis.
std::vector<kpoint> mesh(int n1, int n2, int n3, const std::array<double, 3>& shift,
                         const std::function<std::vector<double>(int, int, int)>& energy);

}  // namespace bandcut_test
