#include "listing.hpp"

#include "band_line.hpp"
#include "convert.hpp"
#include "lines.hpp"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

namespace bandcut {

void* allocate_table(std::size_t bytes) noexcept {
    constexpr std::size_t huge = std::size_t{2} << 20;  // the processor's large page
    if (bytes < huge) return std::malloc(bytes ? bytes : 1);
    const std::size_t rounded = (bytes + huge - 1) / huge * huge;
    void* p = std::aligned_alloc(huge, rounded);
#ifdef MADV_HUGEPAGE
    // Advice only: where the system has no huge pages to give, the table is in small ones.
    if (p) madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return p;
}

namespace {

// A table of `limit` entries that is given memory as the listing fills it, up to what the
// listing can hold: the counts a listing claims never make bandcut take more memory than
// its file could fill (each band line takes at least four bytes: "1 1" and a newline).
// A listing that is not a regular file has no size: its tables share `budget`, the bytes
// they may still take.
template <class T>
class growing_table {
public:
    // `first`: the entries to make room for at once.
    growing_table(std::size_t limit, std::size_t first, std::size_t& budget)
        : limit_(limit), first_(std::min(first, limit)), budget_(budget) {}

    // Room for `n` entries (n <= limit); null when memory is short or the budget spent
    // (`over_budget()` says which).
    T* room(std::size_t n) {
        if (n <= capacity_) return data_.get();
        const std::size_t affordable = capacity_ + budget_ / sizeof(T);
        if (n > affordable) {
            over_budget_ = true;
            return nullptr;
        }
        const std::size_t grown = std::min({limit_, affordable, std::max({n, first_, 2 * capacity_})});
        table_ptr<T> larger = make_table<T>(grown);
        if (!larger) return nullptr;
        if (capacity_) std::memcpy(larger.get(), data_.get(), capacity_ * sizeof(T));
        budget_ -= (grown - capacity_) * sizeof(T);
        data_ = std::move(larger);
        capacity_ = grown;
        return data_.get();
    }
    bool over_budget() const { return over_budget_; }
    table_ptr<T> release() { return std::move(data_); }

private:
    std::size_t limit_, first_, capacity_ = 0;
    std::size_t& budget_;
    bool over_budget_ = false;
    table_ptr<T> data_;
};

// The bytes a regular file holds; none for anything else (a pipe, a device, a stream in
// memory), whose size cannot be known.
std::optional<std::size_t> regular_size(std::FILE* in) {
    struct stat st {};
    const int fd = fileno(in);
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0)
        return static_cast<std::size_t>(st.st_size);
    return std::nullopt;
}

bool contains(std::string_view line, std::string_view marker) {
    return line.find(marker) != std::string_view::npos;
}

bool is_blank_line(std::string_view line) {
    for (char c : line)
        if (!is_blank(c)) return false;
    return true;
}

// The text of a line as the C string functions see it: up to its first NUL byte.
std::string_view c_text(std::string_view line) {
    const void* nul = std::memchr(line.data(), '\0', line.size());
    return nul ? line.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()))
               : line;
}

// A k-point header: " k-point     1 :       0.0000    0.0000    0.0000".  Either its first
// token begins with "k-point" (older listings run numbers from 1000 on into the word),
// or it converts as three tokens followed by three reals.
bool is_kpoint_header(std::string_view line) {
    line_scanner words(line);
    std::string_view word;
    if (!words.token(word)) return false;
    if (word.starts_with("k-point")) return true;
    line_scanner fields(line);
    float c = 0;
    return fields.token(word) && fields.token(word) && fields.token(word) && fields.real(c) &&
           fields.real(c) && fields.real(c);
}

// A line of a many-body run's frequency table, or its heading ("frequency", "omega").
bool names_frequencies(std::string_view line) {
    std::string lower(c_text(line).substr(0, 200));
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("frequenc") != std::string::npos || lower.find("omega") != std::string::npos;
}

// The coordinates of a header are the three reals after its colon, or, in a header
// without a colon, the three reals after its first three tokens.
vec3 kpoint_coordinates(std::string_view line) {
    const auto nan = std::numeric_limits<float>::quiet_NaN();
    vec3 c{nan, nan, nan};
    line = c_text(line);
    const auto colon = line.find(':');
    line_scanner fields(colon == std::string_view::npos ? line : line.substr(colon + 1));
    std::string_view word;
    if (colon == std::string_view::npos && !(fields.token(word) && fields.token(word) && fields.token(word)))
        return c;
    vec3 read{};
    if (fields.real(read[0]) && fields.real(read[1]) && fields.real(read[2])) c = read;
    return c;
}

// A count of the dimension line: the integer that is the `position`-th token (the
// listing's historic layout, "... NKPTS = 4 ... NBANDS= 8" with blanks as the format
// expects), or else the integer after `keyword` (current layout, where the band count
// is no longer the ninth token).
std::optional<std::int64_t> dimension_count(std::string_view line, int position, std::string_view keyword) {
    line_scanner fields(line);
    std::string_view word;
    std::int64_t value = 0;
    int skipped = 0;
    while (skipped < position - 1 && fields.token(word)) ++skipped;
    if (skipped == position - 1 && fields.integer(value)) return value;

    const auto at = line.find(keyword);
    if (at == std::string_view::npos) return std::nullopt;
    line_scanner after(line.substr(at + keyword.size()));
    after.skip_equals();
    if (after.integer(value)) return value;
    return std::nullopt;
}

// The reading, phase by phase; each phase ends the run with a failure or moves
// `out.reached` on.
// The Fermi energy on the marker line: the first number after "E-fermi" and its colon,
// which the number may touch (" E-fermi :  12.8254     XC(G=0): -14.0239").
float fermi_energy(std::string_view line) {
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    line = c_text(line);
    const auto marker = line.find("E-fermi");
    const auto colon = marker == std::string_view::npos ? marker : line.find(':', marker);
    if (colon == std::string_view::npos) return none;
    float value = none;
    line_scanner number(line.substr(colon + 1));
    return number.real(value) ? value : none;
}

class reader {
public:
    reader(std::FILE* in, listing& out, const read_options& options)
        : reader(in, out, options, regular_size(in)) {}
    reader(std::FILE* in, listing& out, const read_options& options, std::optional<std::size_t> size)
        : lines_(in, options.buffer, size ? SIZE_MAX : options.stream_line), out_(out),
          first_table_(options.first_table ? options.first_table : size ? *size / 4 : std::size_t{1} << 18),
          budget_(size ? SIZE_MAX : options.stream_tables), stream_line_(options.stream_line),
          stream_tables_(options.stream_tables) {}

    std::optional<read_failure> run() {
        if (auto failure = dimensions()) return failure;
        if (auto failure = lattice()) return failure;
        if (!scan_for("E-fermi")) return missing("E-fermi");
        out_.reached = listing::stage::fermi_marker;
        out_.efermi = fermi_energy(line_);
        out_.mesh = sections_.sections();
        if (auto failure = eigenvalues()) return named_for_the_run(std::move(*failure));
        if (auto failure = after_the_first_set()) return failure;
        out_.bytes = lines_.bytes();
        out_.reached = listing::stage::band_energies;
        return std::nullopt;
    }

private:
    read_failure fail(reason why, read_failure::place at = read_failure::place::none, std::int64_t a = 0,
                      std::int64_t b = 0) const {
        read_failure f;
        f.line = lines_.number();
        f.why = why;
        f.at = at;
        f.counts[0] = a;
        f.counts[1] = b;
        return f;
    }
    read_failure unreadable() const {
        if (lines_.too_long()) return fail(reason::line_too_long, read_failure::place::none, static_cast<std::int64_t>(stream_line_));
        read_failure f = fail(reason::read_error);
        f.unreadable = true;
        f.text = lines_.trouble();
        return f;
    }

    read_failure missing(std::string_view marker) const {
        if (lines_.trouble()) return unreadable();
        read_failure f = fail(reason::missing_marker);
        f.text = marker;
        return f;
    }

    // The listing ends at `at`, before or inside k-point block `k` (from 1) of spin component `spin`.
    std::optional<read_failure> ended(read_failure::place at, std::size_t k = 0, int spin = 0) const {
        if (lines_.trouble()) return unreadable();
        read_failure f = fail(reason::listing_ends, at, static_cast<std::int64_t>(k), out_.nkpts);
        f.spin2 = spin == 1;
        return f;
    }

    // The next line; an empty one once the listing has ended.
    bool next(std::string_view& line) {
        if (lines_.next(line)) return true;
        line = {};
        return false;
    }

    // Reads up to and including the first line that holds `marker`, showing every line
    // to the reader of the symmetry and k-mesh sections.
    bool scan_for(std::string_view marker) {
        while (next(line_)) {
            sections_.see(line_, lines_.number());
            if (contains(line_, marker)) return true;
        }
        return false;
    }

    std::optional<read_failure> dimensions() {
        if (!scan_for("NKPTS")) return missing("NKPTS");
        sections_.dimension_line_seen();
        const auto text = c_text(line_);
        out_.dimension_line.assign(text);
        out_.reached = listing::stage::dimension_line;
        const auto nkpts = dimension_count(text, 4, "NKPTS");
        if (!nkpts) return fail(reason::bad_counts, read_failure::place::no_kpoint_count);
        const auto nbands = dimension_count(text, 9, "NBANDS");
        if (!nbands) return fail(reason::bad_counts, read_failure::place::no_band_count);

        constexpr std::int64_t most = std::numeric_limits<std::int32_t>::max();
        if (*nkpts < 0 || *nbands < 0 || *nkpts > most || *nbands > most)
            return fail(reason::bad_counts, read_failure::place::impossible, *nkpts, *nbands);
        out_.nkpts = static_cast<std::int32_t>(*nkpts);
        out_.nbands = static_cast<std::int32_t>(*nbands);
        out_.counts_line = lines_.number();
        out_.reached = listing::stage::counts;
        return std::nullopt;
    }

    // Why a table could not grow: memory was short, or a stream's tables reached their limit.
    template <class T>
    read_failure no_room(const growing_table<T>& table) const {
        if (table.over_budget())
            return fail(reason::tables_too_large, read_failure::place::none, static_cast<std::int64_t>(stream_tables_));
        return fail(reason::out_of_memory, read_failure::place::none, out_.nkpts, out_.nbands);
    }

    // Each number of the three lines once, read both as the file prints it (single
    // precision) and as the symmetry work needs it (double).
    std::optional<read_failure> lattice() {
        if (!scan_for("reciprocal lattice vectors")) return missing("reciprocal lattice vectors");
        for (std::size_t i = 0; i < 3; ++i) {
            if (!next(line_)) return ended(read_failure::place::lattice);
            sections_.see(line_, lines_.number());
            if (!lattice_row(line_, i) && !lattice_row_by_blanks(line_, i))
                return fail(reason::bad_lattice_line);
        }
        out_.reached = listing::stage::lattice;
        return std::nullopt;
    }

    // One number of lattice row i, j-th of the six (A1..A3 then B1..B3).
    bool lattice_number(line_scanner& fields, std::size_t i, std::size_t j) {
        float& single = j < 3 ? out_.direct[i][j] : out_.reciprocal[i][j - 3];
        double& twice = j < 3 ? out_.direct_double[i][j] : out_.reciprocal_double[i][j - 3];
        return fields.real(single, twice);
    }

    // The listing prints a lattice row as "3X, 3F13.9, 3X, 3F13.9": 84 columns.  A length of
    // 100 A or more fills its 13 columns and touches its neighbour (a1 = (130, 0, 0) makes
    // a2 print "  -65.000000000112.583302492"), which only columns can split.  A row of
    // exactly that layout is read by column.
    bool lattice_row(std::string_view line, std::size_t i) {
        line = c_text(line);
        while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
        if (line.size() != 84 || !is_blank_line(line.substr(0, 3)) || !is_blank_line(line.substr(42, 3))) return false;
        static constexpr std::size_t starts[6] = {3, 16, 29, 45, 58, 71};
        for (std::size_t j = 0; j < 6; ++j) {
            line_scanner field(line.substr(starts[j], 13));
            if (!lattice_number(field, i, j) || !field.at_end()) return false;
        }
        return true;
    }

    // Any other row (hand-written listings) by blanks: six reals, each as scanf takes it.
    bool lattice_row_by_blanks(std::string_view line, std::size_t i) {
        line_scanner fields(line);
        for (std::size_t j = 0; j < 6; ++j)
            if (!lattice_number(fields, i, j)) return false;
        return true;
    }

    // A many-body run (quasiparticles, response functions: its input echo says so, or a
    // frequency table follows its E-fermi line) prints tables there that are not band
    // energies: a failure to read them is named for what the listing is.
    read_failure named_for_the_run(read_failure failure) const {
        if (failure.unreadable || (out_.mesh.many_body.empty() && !frequencies_)) return failure;
        failure.why = reason::many_body_run;
        failure.at = read_failure::place::none;
        failure.text = out_.mesh.many_body;
        failure.counts[0] = out_.mesh.many_body_line;
        return failure;
    }

    // The eigenvalue blocks.  A header is expected on the third line after the "E-fermi"
    // line and on the line after each block's separator; current listings put more lines
    // there ("Fermi energy:", band-gap lines, " spin component 1"), so lines are skipped
    // until a header when none stands where it is expected.
    std::optional<read_failure> eigenvalues() {
        for (int discarded = 0; discarded < 2; ++discarded) {
            if (!next(line_)) return ended(read_failure::place::first_block);
            frequencies_ = frequencies_ || names_frequencies(line_);
        }
        if (auto failure = blocks(0)) return failure;

        // A second spin component follows the first set after blank lines (or in place
        // of the last separator): " spin component 2".  The run's ISPIN says whether one
        // must; listings that do not print it are taken at their word.
        const int ispin = out_.mesh.ispin;
        if (ispin == 1) return std::nullopt;
        bool second = contains(line_, "spin component 2");
        while (!second && next(line_) && is_blank_line(line_)) {
        }
        if (second || contains(line_, "spin component 2")) {
            out_.nspin = 2;
            return blocks(1);
        }
        if (lines_.trouble()) return unreadable();
        if (ispin == 2)
            return fail(reason::spin_component_2, line_.empty() && !lines_.unterminated() ? read_failure::place::ends_before
                                                                                           : read_failure::place::should_begin);
        return std::nullopt;
    }

    // What follows the first set: in a spin-polarised listing that says nothing of its
    // initial moments, the first table of moments per ion (the first ionic step's,
    // printed before the next set); then the count of the sets that follow, one per
    // ionic step, each opened by its own "E-fermi" line.
    std::optional<read_failure> after_the_first_set() {
        bool marker = contains(line_, "E-fermi");  // the line after the first set
        if (!marker && out_.nspin == 2 && out_.mesh.moments_from_magnetization()) {
            magnetization_reader table(out_.mesh);
            while (!marker && !table.done() && next(line_)) {
                marker = contains(line_, "E-fermi");
                table.see(line_);
            }
        }
        out_.sets = 1 + marker + lines_.count_in_rest("E-fermi");
        if (lines_.trouble()) return unreadable();
        return std::nullopt;
    }

    // The NKPTS blocks of one spin component into a table of their band energies (and, for
    // the first, the k-points' coordinates).
    std::optional<read_failure> blocks(int spin) {
        const auto nbands = static_cast<std::size_t>(out_.nbands);
        const auto nkpts = static_cast<std::size_t>(out_.nkpts);
        // Room for as many values as the file's bytes can hold (each band line takes at
        // least four), growing as band lines arrive: a count that a short listing merely
        // claims takes no memory.
        growing_table<float> table(nkpts * nbands, first_table_, budget_);
        growing_table<vec3> coordinates(nkpts, first_table_ / 4, budget_);
        for (std::size_t k = 0; k < nkpts; ++k) {
            bool header = next(line_) && is_kpoint_header(line_);
            while (!header && next(line_)) {
                header = is_kpoint_header(line_);
                if (k == 0 && spin == 0 && !header) frequencies_ = frequencies_ || names_frequencies(line_);
            }
            if (!header) return ended(read_failure::place::before_block, k + 1, spin);
            if (lines_.unterminated()) return ended(read_failure::place::inside_block, k + 1, spin);
            if (spin == 0) {
                vec3* c = coordinates.room(k + 1);
                if (!c) return no_room(coordinates);
                c[k] = kpoint_coordinates(line_);
            } else if (const auto failure = same_point(k)) {
                return failure;
            }
            if (!next(line_) || lines_.unterminated()) return ended(read_failure::place::inside_block, k + 1, spin);  // column heads
            if (contains(line_, "QP-energies") || contains(line_, "KS-energies")) return fail(reason::quasiparticle_tables);
            if (auto failure = band_lines(table, k * nbands, nbands, k + 1, spin)) return failure;
            // The separator; a listing may end before it, but not inside it.
            if (next(line_) && lines_.unterminated()) return ended(read_failure::place::inside_block, k + 1, spin);
        }
        out_.eband[static_cast<std::size_t>(spin)] = table.release();
        if (spin == 0) out_.kpoint = coordinates.release();
        return std::nullopt;
    }

    // Spin component 2's blocks hold the points of spin component 1's, in the same order:
    // each header must name the same point (blocks moved about, headers and all, would put
    // energies at the wrong points).
    std::optional<read_failure> same_point(std::size_t k) const {
        const vec3 c = kpoint_coordinates(line_);
        const vec3& first = out_.kpoint[k];
        bool same = true;
        for (std::size_t a = 0; a < 3; ++a)
            same = same && (c[a] == first[a] || (std::isnan(c[a]) && std::isnan(first[a])));
        if (same) return std::nullopt;
        read_failure f = fail(reason::spin_component_2, read_failure::place::other_header, static_cast<std::int64_t>(k + 1));
        f.header = c;
        f.first = first;
        return f;
    }

    // One block's band lines into the table from entry `first` on: those of the usual
    // shape read in place as far as the buffer holds them, then one line the exact way,
    // which teaches the shape anew.  The table grows only by the lines the buffer holds.
    // The block is block `k` (from 1) of spin component `spin`.
    std::optional<read_failure> band_lines(growing_table<float>& table, std::size_t first, std::size_t nbands, std::size_t k,
                                           int spin) {
        for (std::size_t b = 0; b < nbands; ++b) {
            std::size_t held = 0;
            const char* const ahead = lines_.peek(held);
            const std::size_t lines_held = shape_.length ? held / (shape_.length + 1) : 0;
            float* const table_start = table.room(first + b + std::min(nbands - b, lines_held + 1));
            if (!table_start) return no_room(table);
            float* const row = table_start + first;
            const std::size_t taken = fast_band_lines(ahead, held, shape_, row + b, std::min(nbands - b, lines_held));
            lines_.skip(taken, taken * (shape_.length + 1));
            b += taken;
            if (b == nbands) break;
            if (!next(line_)) return ended(read_failure::place::inside_block, k, spin);
            if (!band_energy(line_.data(), line_.data() + line_.size(), row[b])) return fail(reason::bad_band_line);
            if (lines_.unterminated()) return ended(read_failure::place::inside_block, k, spin);
            shape_ = learn_band_shape(line_, row[b]);
        }
        return std::nullopt;
    }

    line_reader lines_;
    listing& out_;
    std::size_t first_table_;
    std::size_t budget_;  // bytes the tables may still take: a stream's limit, else no limit beyond the file's
    std::size_t stream_line_, stream_tables_;
    bool frequencies_ = false;  // a line before the first k-point block names frequencies
    band_shape shape_;
    std::string_view line_;
    section_reader sections_;
};

}  // namespace

std::optional<read_failure> read_listing(std::FILE* in, listing& out, const read_options& options) {
    return reader(in, out, options).run();
}

}  // namespace bandcut
