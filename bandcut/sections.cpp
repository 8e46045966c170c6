#include "sections.hpp"

#include "convert.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>

namespace bandcut {

namespace {

bool contains(std::string_view line, std::string_view marker) { return line.find(marker) != std::string_view::npos; }

std::string_view trimmed(std::string_view line) {
    while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
    return line;
}

// Exactly N reals and nothing else, as the fixed-format rows print them.
template <std::size_t N>
bool reals(std::string_view line, std::array<double, N>& out) {
    line_scanner fields(line);
    for (auto& x : out)
        if (!fields.real(x)) return false;
    return fields.at_end();
}

// The integer after `name` and an equals sign: "NIONS =      8", "ISPIN  =      2".
std::optional<std::int64_t> integer_after(std::string_view line, std::string_view name) {
    const auto at = line.find(name);
    if (at == std::string_view::npos) return std::nullopt;
    line_scanner fields(line.substr(at + name.size()));
    fields.skip_equals();
    std::int64_t value = 0;
    if (!fields.integer(value)) return std::nullopt;
    return value;
}

// The logical after `name` and an equals sign: "LSORBIT =      T".
std::optional<bool> logical_after(std::string_view line, std::string_view name) {
    const auto at = line.find(name);
    if (at == std::string_view::npos) return std::nullopt;
    line_scanner fields(line.substr(at + name.size()));
    std::string_view word;
    if (!fields.token(word) || word != "=" || !fields.token(word)) return std::nullopt;
    if (word == "T" || word == ".TRUE." || word == "True" || word == "true") return true;
    if (word == "F" || word == ".FALSE." || word == "False" || word == "false") return false;
    return std::nullopt;
}

// MAGMOM's value in the input's shorthand: "4*3.0 4*-3.0" is 3.0 four times, then -3.0
// four times; a comment ("!", "#", touching the values or not) ends it, and Fortran's
// exponent letter reads as C's ("1.5d0").  False when a term is neither a number nor
// count*number, or a count is negative.  Nothing is expanded here: a damaged line that
// claims 10^18 moments costs a run, not memory.
bool read_magmom(std::string_view text, std::vector<std::pair<std::int64_t, double>>& runs, std::int64_t& total) {
    text = text.substr(0, std::min(text.find('!'), text.find('#')));
    line_scanner terms(text);
    std::string_view word;
    while (terms.token(word)) {
        std::string term(word);
        for (char& c : term)
            if (c == 'd' || c == 'D') c = 'e';
        std::string_view t = term;
        const auto star = t.find('*');
        std::int64_t count = 1;
        if (star != std::string_view::npos) {
            line_scanner n(t.substr(0, star));
            if (!n.integer(count) || !n.at_end() || count < 0) return false;
            t.remove_prefix(star + 1);
        }
        line_scanner value(t);
        double v = 0;
        if (!value.real(v) || !value.at_end()) return false;
        runs.emplace_back(count, v);
        total = count > std::numeric_limits<std::int64_t>::max() - total ? std::numeric_limits<std::int64_t>::max()
                                                                          : total + count;
    }
    return true;
}

// The value of a tag line of the input echo ("   ALGO = GW0"), if `line` is one: the tag
// first on the line, then "=".
std::optional<std::string_view> tag_value(std::string_view line, std::string_view tag) {
    line = trimmed(line);
    if (!line.starts_with(tag)) return std::nullopt;
    line.remove_prefix(tag.size());
    while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
    if (line.empty() || line.front() != '=') return std::nullopt;
    return line.substr(1);
}

// ALGO values of many-body runs: GW in its flavours, response functions (RPA, ACFDT,
// CHI, cRPA) and the Bethe-Salpeter and time-evolution methods.
bool many_body_algo(std::string_view value) {
    line_scanner words(value);
    std::string_view word;
    if (!words.token(word)) return false;
    std::string upper(word);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* m : {"GW", "GW0", "EVGW", "EVGW0", "QPGW", "QPGW0", "SCGW", "SCGW0", "G0W0", "G0W0R", "GWR", "GW0R",
                          "EVGW0R", "ACFDT", "ACFDTR", "RPA", "RPAR", "CHI", "CRPA", "CRPAR", "BSE", "TDHF", "TIMEEV"})
        if (upper == m) return true;
    return false;
}

// The counts of "ions per type =               4   4": the first in a wide field, each
// other right-aligned in four columns.  A count of 1000 or more fills its four columns and
// touches the count before it: 1000 ions of each of two species print "10001000".
// `split` reads such a run of digits by column: every field ends a multiple of four
// columns before the line's last character, and a field as the listing prints it never
// starts with 0.
std::vector<std::int64_t> ion_counts(std::string_view text, bool split) {
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    std::vector<std::int64_t> counts;
    std::size_t at = 0;
    while (counts.size() < 1000) {
        while (at < text.size() && is_blank(text[at])) ++at;
        if (at == text.size()) break;
        std::size_t end = at;
        while (end < text.size() && !is_blank(text[end])) ++end;
        const std::string_view token = text.substr(at, end - at);
        std::size_t from = 0;
        const bool digits = std::all_of(token.begin(), token.end(), is_digit);
        for (std::size_t p = 1; split && digits && p < token.size(); ++p)
            if ((text.size() - (at + p)) % 4 == 0 && token[p] != '0') {
                line_scanner field(token.substr(from, p - from));
                std::int64_t n = 0;
                field.integer(n);  // digits only: it converts (saturating)
                counts.push_back(n);
                from = p;
            }
        line_scanner last(token.substr(from));
        std::int64_t n = 0;
        if (!last.integer(n) || !last.at_end()) break;
        counts.push_back(n);
        at = end;
    }
    return counts;
}

}  // namespace

void section_reader::see(std::string_view line, long number) {
    if (state_ != state::idle && in_section(line, number)) return;
    state_ = state::idle;
    recognise(line, number);
}

void section_reader::start(state next) {
    state_ = next;
    rows_ = 0;
}

// A line of the section being read; false when the section has ended (the line is then
// looked at afresh).
bool section_reader::in_section(std::string_view line, long number) {
    switch (state_) {
    case state::idle:
        return false;
    case state::mode_lines:
        return mode_line(line);
    case state::operator_header:
        // The header's spacing varies; its words do not.
        if (!contains(line, "irot") || !contains(line, "alpha")) return false;
        state_ = state::operator_rows;
        return true;
    case state::operator_rows:
        return operator_row_line(line, number);
    case state::k_lattice:
        return k_lattice_row(line);
    case state::shift_row: {
        dvec3 shift{};
        if (reals(line, shift)) s_.mesh_shift = shift;
        state_ = state::idle;
        return true;
    }
    case state::irreducible_head:
    case state::zone_head:
        return list_head(line);
    case state::irreducible_rows: {
        std::array<double, 4> row{};
        if (reals(line, row)) {
            s_.irreducible.push_back({{row[0], row[1], row[2]}, row[3]});
            return true;
        }
        return rows_++ == 0 && contains(line, "Coordinates");  // the column heads
    }
    case state::zone_rows:
        return zone_row(line);
    case state::kpoint_rows: {
        std::array<double, 4> row{};
        if (!reals(line, row)) return false;
        s_.kpoints.push_back({{row[0], row[1], row[2]}, row[3]});
        return true;
    }
    case state::position_rows: {
        dvec3 x{};
        if (!reals(line, x)) return false;
        s_.positions.push_back(x);
        return true;
    }
    }
    return false;
}

// The two or three lines after the k-point input say what it is.
bool section_reader::mode_line(std::string_view line) {
    if (contains(line, "nterpolating k-points between supplied coordinates")) s_.band_path = true;
    if (++rows_ >= 3) state_ = state::idle;
    return contains(line, "nterpolating") || trimmed(line).empty() || contains(line, "k-points in reciprocal lattice") ||
           contains(line, "Automatic generation");
}

// "irot det alpha n_x n_y n_z tau_x tau_y tau_z": the table ends at a blank line; any
// other line that is not a row of nine numbers is a damaged row, whose line is kept (the
// table is then not used: a row lost would be an operation lost).
bool section_reader::operator_row_line(std::string_view line, long number) {
    std::array<double, 9> row{};
    if (reals(line, row)) {
        s_.operators.push_back({row[1], row[2], {row[3], row[4], row[5]}, {row[6], row[7], row[8]}});
        return true;
    }
    if (!trimmed(line).empty() && s_.malformed_operator_line == 0) s_.malformed_operator_line = number;
    return false;
}

// An empty line and a header, then three rows: Cartesian and fractional generators.
bool section_reader::k_lattice_row(std::string_view line) {
    std::array<double, 6> row{};
    if (!reals(line, row)) return rows_ == 0 && (trimmed(line).empty() || contains(line, "coordinates"));
    for (int j = 0; j < 3; ++j)
        if (j != rows_ && row[static_cast<std::size_t>(3 + j)] != 0) s_.mesh_general = true;
    if (++rows_ == 3) state_ = state::idle;
    return true;
}

// The lines between "Subroutine IBZKPT(_HF) returns" and the rows.
bool section_reader::list_head(std::string_view line) {
    if (contains(line, "Following reciprocal coordinates:")) {
        start(state_ == state::irreducible_head ? state::irreducible_rows : state::zone_rows);
        return true;
    }
    return !contains(line, "Following cartesian coordinates:") && !contains(line, "-----");
}

// "c1 c2 c3 weight index t-inv F", or in older listings "c1 c2 c3 index t-inv F"; a row
// reached through an operation that reverses the moments ends in "spinflp".
bool section_reader::zone_row(std::string_view line) {
    line_scanner fields(line);
    dvec3 c{};
    double x = 0, weight = 1, index = 0;
    std::string_view word;
    if (!(fields.real(c[0]) && fields.real(c[1]) && fields.real(c[2]) && fields.real(x) && fields.token(word)))
        return false;
    if (word == "t-inv") {
        index = x;
    } else {
        weight = x;
        line_scanner n(word);
        if (!n.real(index) || !n.at_end() || !fields.token(word) || word != "t-inv") return false;
    }
    if (!fields.token(word)) return false;  // the time-reversal flag, T or F
    bool spin_flip = false;
    if (fields.token(word)) {
        if (word != "spinflp") return false;
        spin_flip = true;
    }
    if (!fields.at_end()) return false;
    // An index within the k-point counts bandcut can hold; the unfolding checks the rest.
    if (!(index >= 1 && index <= 2147483647.0) || index != std::floor(index)) return false;
    s_.zone.push_back({c, weight, static_cast<std::int64_t>(index), spin_flip});
    return true;
}

void section_reader::recognise(std::string_view line, long number) {
    if (after_dimensions_) {
        recognise_run(line);
    } else {
        recognise_input(line, number);
    }
}

// A MAGMOM tag line: the first gives the moments; a later one that says otherwise makes
// them unknowable.
void section_reader::magmom_line(std::string_view value, long number) {
    std::vector<std::pair<std::int64_t, double>> runs;
    std::int64_t total = 0;
    const bool readable = read_magmom(value, runs, total);
    if (!s_.magmom_given) {
        s_.magmom_given = true;
        s_.magmom_readable = readable;
        s_.magmom = std::move(runs);
        s_.magmom_count = total;
        s_.magmom_lines[0] = number;
    } else if (s_.magmom_lines[1] == 0 && (readable != s_.magmom_readable || runs != s_.magmom)) {
        s_.magmom_lines[1] = number;
    }
}

// Before the dimension line: the input echo, the symmetry analysis, the k-point input and
// the lists it makes.
void section_reader::recognise_input(std::string_view line, long number) {
    if (contains(line, "space group operations") && contains(line, "Found") && !kpoint_input_seen_) {
        if (const auto n = integer_after(line, "Found")) s_.operations_found = *n;
    } else if (trimmed(line).starts_with("KPOINTS:")) {
        kpoint_input_seen_ = true;
        start(state::mode_lines);
    } else if (trimmed(line).starts_with("Space group operators:")) {
        s_.operator_table = true;
        s_.operators.clear();
        s_.malformed_operator_line = 0;
        start(state::operator_header);
    } else if (contains(line, "generate k-points for:")) {
        line_scanner fields(line.substr(line.find(':') + 1));
        std::array<std::int64_t, 3> n{};
        if (fields.integer(n[0]) && fields.integer(n[1]) && fields.integer(n[2])) s_.mesh = n;
    } else if (contains(line, "Generating k-lattice:")) {
        start(state::k_lattice);
    } else if (contains(line, "Shift w.r.t. Gamma")) {
        start(state::shift_row);
    } else if (contains(line, "Subroutine IBZKPT_HF returns")) {
        s_.zone_list = true;
        s_.zone.clear();
        start(state::zone_head);
    } else if (contains(line, "Subroutine IBZKPT returns")) {
        s_.irreducible_list = true;
        s_.irreducible.clear();
        start(state::irreducible_head);
    } else if (contains(line, "default of 1 will be used for all atoms")) {
        s_.default_moments = true;
    } else if (const auto value = tag_value(line, "MAGMOM")) {
        magmom_line(*value, number);
    } else if (const auto algo = tag_value(line, "ALGO"); algo && many_body_algo(*algo) && s_.many_body.empty()) {
        line_scanner words(*algo);
        std::string_view word;
        words.token(word);
        s_.many_body = word;
        s_.many_body_line = number;
    }
}

// After the dimension line the first of each is the run's own.
void section_reader::recognise_run(std::string_view line) {
    if (!s_.nelect && contains(line, "NELECT")) {
        line_scanner fields(line.substr(line.find("NELECT") + 6));
        fields.skip_equals();
        double n = 0;
        if (fields.real(n) && std::isfinite(n)) s_.nelect = n;
    }
    if (!s_.nions) {
        if (const auto n = integer_after(line, "NIONS")) s_.nions = *n;
    }
    if (s_.ions_per_type.empty() && contains(line, "ions per type")) {
        // Split by column only where the counts read by blanks do not add up to NIONS.
        const auto text = line.substr(line.find('=') + 1);
        s_.ions_per_type = ion_counts(text, false);
        const auto sum = [](const std::vector<std::int64_t>& v) -> std::int64_t {  // -1: no count of ions
            std::int64_t total = 0;
            for (const auto n : v) {
                if (n < 0 || n > INT64_MAX - total) return -1;
                total += n;
            }
            return total;
        };
        if (s_.nions && sum(s_.ions_per_type) != *s_.nions) {
            auto by_column = ion_counts(text, true);
            if (sum(by_column) == *s_.nions) s_.ions_per_type = std::move(by_column);
        }
    } else if (!ispin_seen_ && contains(line, "ISPIN")) {
        if (const auto n = integer_after(line, "ISPIN")) {
            ispin_seen_ = true;
            s_.ispin = n == 1 || n == 2 ? static_cast<int>(*n) : 0;
        }
    } else if (!noncollinear_seen_ && contains(line, "LNONCOLLINEAR")) {
        if (const auto t = logical_after(line, "LNONCOLLINEAR")) {
            noncollinear_seen_ = true;
            s_.noncollinear = *t;
        }
    } else if (!spin_orbit_seen_ && contains(line, "LSORBIT")) {
        if (const auto t = logical_after(line, "LSORBIT")) {
            spin_orbit_seen_ = true;
            s_.spin_orbit = *t;
        }
    } else if (!kpoints_seen_ && contains(line, "k-points in reciprocal lattice and weights")) {
        kpoints_seen_ = true;
        start(state::kpoint_rows);
    } else if (!positions_seen_ && contains(line, "position of ions in fractional coordinates")) {
        positions_seen_ = true;
        start(state::position_rows);
    }
}

void magnetization_reader::see(std::string_view line) {
    switch (state_) {
    case state::looking:
        if (trimmed(line) == "magnetization (x)") state_ = state::head;
        return;
    case state::head:
        // A blank line, the column heads ("# of ion ... tot"), a line of dashes.
        if (trimmed(line).starts_with("---")) state_ = state::rows;
        return;
    case state::rows: {
        line_scanner fields(line);
        std::int64_t ion = 0;
        double x = 0, last = 0;
        bool any = false;
        if (fields.integer(ion) && ion == static_cast<std::int64_t>(s_.magnetization.size()) + 1) {
            while (fields.real(x)) {
                last = x;
                any = true;
            }
            if (any && fields.at_end()) {
                s_.magnetization.push_back(last);
                return;
            }
        }
        // The line of dashes that closes the rows, or anything else: the table ends.
        s_.magnetization_read = trimmed(line).starts_with("---") && !s_.magnetization.empty();
        if (!s_.magnetization_read) s_.magnetization.clear();
        state_ = state::done;
        return;
    }
    case state::done:
        return;
    }
}

}  // namespace bandcut
