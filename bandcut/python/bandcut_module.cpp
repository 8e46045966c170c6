// The Python module bandcut: the same one call the program makes (bandcut::cut), its grid
// as a NumPy array, and the same band-grid file through the same atomic writer.  A thin
// layer: every decision is the library's.
#include "account.hpp"
#include "bandgrid.hpp"
#include "contours.hpp"
#include "cut_state.hpp"
#include "frmsf.hpp"
#include "sheets.hpp"
#include "outfile.hpp"
#include "selection.hpp"
#include "svg.hpp"

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

[[noreturn]] void raise_os_error(const std::string& text) {
    PyErr_SetString(PyExc_OSError, text.c_str());
    throw py::error_already_set();
}

// A path as Python's own file functions take one: a str, bytes or os.PathLike.  A NUL
// byte would end it early in the C library, naming another file: refused, as Python's
// open() refuses it.
std::string path_of(const py::object& path) {
    const py::object p = py::module_::import("os").attr("fspath")(path);
    std::string text = py::isinstance<py::bytes>(p) ? std::string(py::bytes(p)) : p.cast<std::string>();
    if (text.find('\0') != std::string::npos) throw py::value_error("embedded null byte in the path");
    return text;
}

const char* route_name(bandcut::grid_map::route how) {
    switch (how) {
    case bandcut::grid_map::route::placed:
        return "placed";
    case bandcut::grid_map::route::unfolded:
        return "unfolded";
    case bandcut::grid_map::route::listing_order:
        return "listing order";
    case bandcut::grid_map::route::refused:
        break;
    }
    return "refused";
}

// A cut the library made, and its energies as an array once asked for.
class cut {
public:
    explicit cut(bandcut::cut_state r) : r_(std::move(r)) {}

    // (spin components, bands, nkx, nky, nkz), float32: every grid point's energy, each
    // band of each spin component, as the band-grid file takes them.
    py::array_t<float> energies() {
        if (energies_) return *energies_;
        const auto& b = r_.bands;
        const auto points = static_cast<std::size_t>(r_.g.points());
        py::array_t<float> a({static_cast<py::ssize_t>(b.nspin), static_cast<py::ssize_t>(b.nbands),
                              static_cast<py::ssize_t>(r_.g.nkx), static_cast<py::ssize_t>(r_.g.nky),
                              static_cast<py::ssize_t>(r_.g.nkz)});
        float* out = a.mutable_data();
        {
            py::gil_scoped_release unlocked;
            const auto nbands = static_cast<std::size_t>(b.nbands);
            for (int s = 0; s < b.nspin; ++s)
                for (std::size_t n = 0; n < points; ++n)
                    for (std::size_t band = 0; band < nbands; ++band)
                        out[(static_cast<std::size_t>(s) * nbands + band) * points + n] =
                            r_.energy(s, static_cast<std::int32_t>(band), static_cast<std::int64_t>(n));
        }
        a.attr("setflags")(py::arg("write") = false);  // every read returns this one array: nobody may change it
        energies_ = a;
        return a;
    }

    py::array_t<double> reciprocal() const {
        py::array_t<double> a({3, 3});
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t j = 0; j < 3; ++j) a.mutable_at(i, j) = r_.bands.reciprocal_double[i][j];
        return a;
    }

    // The lines the program prints on standard output: what it read.
    std::vector<std::string> echo() const {
        std::vector<std::string> lines;
        for (const auto& m : r_.said)
            if (m.what == bandcut::message::kind::echo) lines.push_back(m.text);
        return lines;
    }

    // The notes and warnings (standard error), each a Note(kind, text).
    py::list notes() const {
        const py::object record = py::module_::import("bandcut").attr("Note");
        py::list out;
        for (const auto& m : r_.said)
            if (m.what == bandcut::message::kind::note || m.what == bandcut::message::kind::warning)
                out.append(record(m.what == bandcut::message::kind::note ? "note" : "warning", m.text));
        return out;
    }

    // The bands that cross ef, as (spin, band) from 0.
    std::vector<std::pair<int, int>> bands_crossing(std::optional<float> ef) const {
        std::vector<std::pair<int, int>> out;
        for (const auto j : bandcut::select_bands(r_.bands, ef.value_or(r_.ef), r_.counted))
            out.emplace_back(static_cast<int>(j / r_.bands.nbands), static_cast<int>(j % r_.bands.nbands));
        return out;
    }

    // The selected bands as s * NBANDS + b: those given, or those that cross `level`.
    std::vector<std::int64_t> selection(float level, const std::optional<std::vector<std::pair<int, int>>>& bands) const {
        std::vector<std::int64_t> nstore;
        for (const auto& [s, b] : bands ? *bands : bands_crossing(level)) {
            if (s < 0 || s >= r_.bands.nspin || b < 0 || b >= r_.bands.nbands)
                throw py::value_error("no band " + std::to_string(b) + " of spin component " + std::to_string(s));
            nstore.push_back(std::int64_t{s} * r_.bands.nbands + b);
        }
        return nstore;
    }

    void write_bandgrid(const py::object& where, std::optional<float> ef,
                        std::optional<std::vector<std::pair<int, int>>> bands) const {
        const float level = ef.value_or(r_.ef);
        const auto nstore = selection(level, bands);
        write_file(path_of(where), [&](std::FILE* out) {
            return bandcut::write_bandgrid(out, r_.bands, level, r_.g, nstore, r_.values());
        });
    }

    void write_frmsf(const py::object& where, std::optional<float> ef,
                     std::optional<std::vector<std::pair<int, int>>> bands) const {
        const float level = ef.value_or(r_.ef);
        const auto nstore = selection(level, bands);
        write_file(path_of(where), [&](std::FILE* out) {
            return bandcut::write_frmsf(out, r_.bands, level, r_.g, nstore, r_.values(), r_.shift);
        });
    }

    // The mesh's points in units of the reciprocal vectors: (ix + shift) / nkx, ...
    py::array_t<double> kpoints() const {
        const auto& g = r_.g;
        py::array_t<double> a({static_cast<py::ssize_t>(g.nkx), static_cast<py::ssize_t>(g.nky),
                               static_cast<py::ssize_t>(g.nkz), py::ssize_t{3}});
        double* out = a.mutable_data();
        const std::array<std::int64_t, 3> n{g.nkx, g.nky, g.nkz};
        for (std::int64_t p = 0; p < g.points(); ++p) {
            const std::array<std::int64_t, 3> at{p / (n[1] * n[2]), p / n[2] % n[1], p % n[2]};
            for (std::size_t c = 0; c < 3; ++c)
                out[static_cast<std::size_t>(p) * 3 + c] = (static_cast<double>(at[c]) + r_.shift[c]) / static_cast<double>(n[c]);
        }
        return a;
    }

    // The velocity of one band over the mesh, (nkx, nky, nkz, 3) float64, m/s.
    py::array_t<double> velocity(int s, int b) const {
        if (s < 0 || s >= r_.bands.nspin || b < 0 || b >= r_.bands.nbands)
            throw py::value_error("no band " + std::to_string(b) + " of spin component " + std::to_string(s));
        py::array_t<double> a({static_cast<py::ssize_t>(r_.g.nkx), static_cast<py::ssize_t>(r_.g.nky),
                               static_cast<py::ssize_t>(r_.g.nkz), py::ssize_t{3}});
        double* out = a.mutable_data();
        {
            py::gil_scoped_release unlocked;
            for (std::int64_t n = 0; n < r_.g.points(); ++n) {
                const auto v = r_.velocity(s, b, n);
                for (std::size_t c = 0; c < 3; ++c) out[static_cast<std::size_t>(n) * 3 + c] = v[c];
            }
        }
        return a;
    }

    const bandcut::cut_state& result() const { return r_; }

    // The sheets at ef as a structured array; the count and the level of the grid.
    py::object sheets(std::optional<float> ef) const {
        no_mesh_raises();
        std::vector<bandcut::sheet> rows;
        {
            py::gil_scoped_release unlocked;
            rows = bandcut::sheets_at(r_, ef.value_or(r_.ef));
        }
        py::list records;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& s = rows[i];
            records.append(py::make_tuple(static_cast<int>(i + 1), s.spin, s.band, s.electrons, s.holes,
                                          s.holes_carry ? "holes" : "electrons", s.carriers, s.dos));
        }
        const py::module_ np = py::module_::import("numpy");
        const py::list fields = py::cast(std::vector<std::pair<std::string, std::string>>{
            {"sheet", "i4"}, {"spin", "i4"}, {"band", "i4"}, {"electrons", "f8"}, {"holes", "f8"},
            {"carrier", "U9"}, {"carriers_per_cm3", "f8"}, {"dos", "f8"}});
        return np.attr("array")(records, py::arg("dtype") = np.attr("dtype")(fields));
    }
    double electrons_below(double ef) const {
        no_mesh_raises();
        py::gil_scoped_release unlocked;
        return bandcut::electrons_below(r_, ef).electrons;
    }
    std::optional<double> level_for(double electrons) const {
        no_mesh_raises();
        py::gil_scoped_release unlocked;
        return bandcut::level_for(r_, electrons);
    }

    // The contours of one plane: .zone (m, 2) and .lines {(spin, band): [(n, 2), ...]},
    // float64, 1/A with 2 pi in the plane's frame.
    py::object contours(std::optional<float> ef, std::int32_t plane) const {
        const auto set = contour_set(ef, plane);
        const auto points = [](const std::vector<bandcut::point2>& p) {
            py::array_t<double> a({static_cast<py::ssize_t>(p.size()), py::ssize_t{2}});
            std::memcpy(a.mutable_data(), p.data(), p.size() * sizeof(bandcut::point2));
            return a;
        };
        py::dict lines;
        for (const auto& b : set.bands) {
            py::list of_band;
            for (const auto& line : b.lines) of_band.append(points(line.points));
            lines[py::make_tuple(b.spin, b.band)] = of_band;
        }
        return py::module_::import("bandcut").attr("Contours")(points(set.zone), lines, set.ef, set.plane);
    }

    void write_svg(const py::object& where, std::optional<float> ef, std::int32_t plane) const {
        const auto set = contour_set(ef, plane);
        write_file(path_of(where), [&](std::FILE* out) { return bandcut::write_svg(out, set, r_.g); });
    }

private:
    bandcut::contour_set contour_set(std::optional<float> ef, std::int32_t plane) const {
        if (const auto why = bandcut::contours_fault(r_, plane)) throw py::value_error(bandcut::finding_words(why));
        py::gil_scoped_release unlocked;
        return bandcut::contours_of(r_, ef.value_or(r_.ef), plane);
    }

    void no_mesh_raises() const {
        if (const auto why = bandcut::sheets_fault(r_)) throw py::value_error(bandcut::finding_words(why));
    }

    // Writes the file at `path` with `write(stream)` beside it and renames it onto it once
    // whole; the interpreter keeps its own signal handlers (Ctrl-C is an exception there),
    // and the temporary file goes with `out` however the call ends.
    template <class Write>
    static void write_file(const std::string& path, const Write& write) {
        bandcut::replacement_file out(path, {}, false);
        const auto in_the_way = [&] {
            raise_os_error("can't create " + path + ": " + out.in_the_way() +
                           " is there, not a regular file (only regular files are replaced)");
        };
        errno = 0;
        if (!out.open()) {
            if (out.in_the_way()) in_the_way();
            raise_os_error("can't create " + path + (errno ? std::string(": ") + std::strerror(errno) : ""));
        }
        auto outcome = bandcut::replacement_file::outcome::write_failed;
        {
            py::gil_scoped_release unlocked;
            if (write(out.stream())) outcome = out.commit();
        }
        switch (outcome) {
        case bandcut::replacement_file::outcome::replaced:
        case bandcut::replacement_file::outcome::replaced_unsynced:
            return;
        case bandcut::replacement_file::outcome::in_the_way:  // taken meanwhile by a device, a FIFO, a folder
            in_the_way();
            break;
        case bandcut::replacement_file::outcome::rename_failed:
            raise_os_error("can't create " + path);
        case bandcut::replacement_file::outcome::write_failed:
            break;
        }
        raise_os_error(path + ": write error (disk full?); the previous file is left as it was");
    }

    bandcut::cut_state r_;
    std::optional<py::array_t<float>> energies_;
};

cut read_cut(const py::object& where, const std::tuple<int, int, int>& mesh, std::optional<float> ef) {
    const std::string path = path_of(where);
    const bandcut::grid g{std::get<0>(mesh), std::get<1>(mesh), std::get<2>(mesh)};
    bandcut::cut_state r;
    {
        py::gil_scoped_release unlocked;
        r = bandcut::run_cut(path, g, ef);
    }
    if (!r.ok) {
        const auto& why = r.said.back();
        if (r.unreadable) raise_os_error(why.text);
        const py::object refused = py::module_::import("bandcut").attr("Refused")(why.text, bandcut::reason_name(why.why), why.line, why.cause);
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(refused.ptr())), refused.ptr());
        throw py::error_already_set();
    }
    return cut(std::move(r));
}

// What the run read and said, and where the grid's values lie.
void bind_grid(py::class_<cut>& cls) {
    cls.def_property_readonly("energies", &cut::energies,
                               R"(float32 array (spin components, bands, nkx, nky, nkz), eV: the energy of every band of
every spin component at every point of the mesh, (ix, iy, iz) at k = (ix/nkx, iy/nky,
iz/nkz) plus the mesh's shift, in units of the reciprocal vectors.  Made on first use;
every read returns the same array, which is read-only (copy it to change it).)")
        .def_property_readonly("reciprocal", &cut::reciprocal,
                               "float64 array (3, 3), 1/A without 2 pi: the reciprocal vectors b1, b2, b3 as rows.")
        .def_property_readonly("listing_ef", [](const cut& c) { return c.result().bands.efermi; },
                               "The listing's own Fermi energy in eV (its E-fermi line); nan when it prints none.")
        .def_property_readonly("selection_ef", [](const cut& c) { return c.result().ef; },
                               "The Fermi energy in eV the bands were chosen by: read's ef, or the listing's.")
        .def_property_readonly("route", [](const cut& c) { return route_name(c.result().how); },
                               R"(How the grid was made: "placed" (the listing holds the full mesh), "unfolded" (a
symmetry-reduced mesh), or "listing order" (neither; the notes say why).)")
        .def_property_readonly("echo", &cut::echo,
                               "The lines the program prints on standard output for this run, in order: what it read.")
        .def_property_readonly("notes", &cut::notes,
                               R"(The notes and warnings the program prints on standard error for this run, in order, each
a Note with .kind ("note" or "warning") and .text (the line as printed).)")
        .def_property_readonly("mesh", [](const cut& c) { return std::make_tuple(c.result().g.nkx, c.result().g.nky, c.result().g.nkz); },
                               "(nkx, nky, nkz): the mesh the energies are given on.")
        .def_property_readonly("kpoints", &cut::kpoints,
                               R"(float64 array (nkx, nky, nkz, 3): each mesh point in units of the reciprocal vectors,
((ix + shift) / nkx, ...), aligned with the last three axes of energies.  A fresh array
each time.)")
        .def_property_readonly("shift", [](const cut& c) { return c.result().shift; },
                               "The mesh's shift off the zone centre, in steps along b1, b2, b3 (0 or 0.5 each).");
}

// The numbers and pictures of the bands that cross a level.
void bind_bands(py::class_<cut>& cls) {
    cls.def("bands_crossing", &cut::bands_crossing, py::arg("ef") = py::none(),
             R"(The bands whose energies over the grid's k-points lie both below and above ef (eV;
default: selection_ef), as (spin, band) pairs counting from 0: indices into the
first two axes of energies.)")
        .def("velocity", &cut::velocity, py::arg("spin"), py::arg("band"),
             R"(float64 array (nkx, nky, nkz, 3), m/s: the Cartesian velocity grad_k E / hbar of one band
(counting from 0) of one spin component at every mesh point, by central differences on
the periodic grid (second order in the step; an axis of one or two points contributes
nothing along itself), in the frame of the listing's lattice vectors.)")
        .def("sheets", &cut::sheets, py::arg("ef") = py::none(),
             R"(The bands that cross ef (eV; default: selection_ef) as a NumPy structured array, one
record a sheet: sheet (from 1), spin and band (from 0), electrons and holes per cell,
carrier ("electrons" below half full, else "holes"), carriers_per_cm3, dos (states per eV
per cell at ef), by linear tetrahedra on the grid (second order in the grid step).  A full
band holds 2 electrons per cell, 1 with two spin components or spin-orbit coupling.
Raises ValueError where there is no mesh to integrate over (a grid in listing order).)")
        .def("electrons_below", &cut::electrons_below, py::arg("ef"),
             "Electrons per cell below ef (eV) on the grid, every band counted (full bands whole).")
        .def("level_for", &cut::level_for, py::arg("electrons"),
             "The level (eV) at which the grid holds `electrons` per cell, to 1e-6 eV; None when none does.")
        .def("contours", &cut::contours, py::arg("ef") = py::none(), py::arg("plane") = 0,
             R"(The Fermi contours E = ef (eV; default: selection_ef) in plane `plane` of the mesh (its
third index; 0: the plane through the zone centre spanned by b1 and b2, for a slab the
whole Fermi surface), as a Contours record: .zone, the plane's Wigner-Seitz cell as an
(m, 2) float64 array, counter-clockwise; .lines, a dict from (spin, band) (counting from
0, as the axes of energies) of each band crossing ef to a list of (n, 2) float64 arrays,
closed ones repeating their first point.  Cartesian, 1/A with 2 pi, x along b1 and y
perpendicular to it towards b2.  Pockets are drawn whole, once, about their image nearest
the zone centre; lines that cross the zone are clipped to it.  Raises ValueError for a
mesh in listing order (no plane) or a plane off the mesh.)");
}

// The program's files, written from Python byte for byte.
void bind_writers(py::class_<cut>& cls) {
    cls.def("write_frmsf", &cut::write_frmsf, py::arg("path"), py::arg("ef") = py::none(), py::arg("bands") = py::none(),
             R"(Writes the other viewer's file (FS.frmsf: the grid's kind named, so a shifted mesh is
drawn in place; energies relative to ef; the Fermi speed in 10^5 m/s as the colour) to
path, byte for byte as the program writes it with --frmsf; the same choice of bands, the
same atomic write and errors as write_bandgrid.)")
        .def("write_svg", &cut::write_svg, py::arg("path"), py::arg("ef") = py::none(), py::arg("plane") = 0,
             R"(Writes the picture of contours(ef, plane) as SVG to path, byte for byte as the program
writes FS.svg with --svg (for plane 0 at selection_ef); the same atomic write and errors
as write_bandgrid.)")
        .def("write_bandgrid", &cut::write_bandgrid, py::arg("path"), py::arg("ef") = py::none(),
             py::arg("bands") = py::none(),
             R"(Writes the band-grid file (the closed grid a Fermi-surface viewer draws) to path, with
the bands that cross ef (eV; default: selection_ef) or the (spin, band) pairs given,
byte for byte as the program writes it.  The file is written beside path and renamed
onto it once whole: an existing file is never left half-written.  Raises OSError when
the file cannot be written, ValueError for a band that is not there.)");
}

// The records the module hands out and the refusal it raises.
void define_records(py::module_& m) {
    py::exec(R"(
import collections as _collections
Note = _collections.namedtuple("Note", "kind text")
Note.__doc__ = "A note or warning of the run: kind ('note' or 'warning') and the line as the program prints it."
class Refused(ValueError):
    """bandcut.read's refusal: the listing does not give the grid asked for.  str() is the
    program's line; .reason names why ("listing_ends", "too_few_kpoints", ...: the reasons of
    <bandcut/cut.hpp>), .line is the listing's line at fault (from 1; 0 when none is); where
    the k-points were neither placed nor unfolded, .cause names why ("unreached",
    "point_off_grid", "no_moments", ...), else it is ""."""
    def __init__(self, text, reason, line, cause=""):
        super().__init__(text)
        self.reason = reason
        self.line = line
        self.cause = cause
Contours = _collections.namedtuple("Contours", "zone lines ef plane")
Contours.__doc__ = ("The Fermi contours of one plane (Cut.contours): the zone polygon, the lines of each "
                    "(spin, band), the level and the plane.")
)", m.attr("__dict__"));
}

}  // namespace

PYBIND11_MODULE(bandcut, m) {
    m.doc() = R"(Band energies of a finished calculation over its full k-point grid.

bandcut.read(path, mesh=(nkx, nky, nkz)) reads the calculation's listing ("OUTCAR"), puts every listed
k-point's band energies on the nkx x nky x nkz mesh (placed by their coordinates, or
unfolded from a symmetry-reduced mesh and proved against the listing's weights and
magnetic order) and returns them as a NumPy array; write_bandgrid writes the band-grid
file the program bandcut writes.  Energies in eV.)";

    py::class_<cut> cls(m, "Cut", "The grid bandcut.read made, and what it said.");
    bind_grid(cls);
    bind_bands(cls);
    bind_writers(cls);
    define_records(m);

    m.def("read", &read_cut, py::arg("path") = "OUTCAR", py::kw_only(), py::arg("mesh"), py::arg("ef") = py::none(),
          R"(Reads the listing at path and makes the mesh=(nkx, nky, nkz) of its band energies.

ef (eV) chooses which bands cross for bands_crossing and write_bandgrid; default: the
listing's own Fermi energy.  Returns a Cut.  Raises ValueError when the listing does not
give the grid (the message is the program's, naming the listing's line), OSError when
the file cannot be opened or read.  The interpreter's lock is released while reading.)");
}
