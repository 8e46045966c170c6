#include "account.hpp"
#include "listing.hpp"
#include "selection.hpp"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using bandcut::listing;
using bandcut::read_failure;

struct outcome {
    std::optional<read_failure> failure;
    listing bands;
    std::string echo;
};

// Reads `text` as a listing; the echo is what the run prints of it, each line with its newline.
outcome read(const std::string& text, float ef = 1.0f, bandcut::read_options options = {}) {
    std::FILE* in = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    outcome o;
    o.failure = bandcut::read_listing(in, o.bands, options);
    bandcut::account said;
    bandcut::echo_listing(said, o.bands, ef);
    for (const auto& m : said) o.echo += m.text + "\n";
    std::fclose(in);
    return o;
}

const std::string historic_dims = "   k-points NKPTS =      2   number of bands NBANDS=      2\n";
const std::string current_dims =
    "   k-points           NKPTS =      2   k-points in BZ     NKDIM =      2   number of bands    NBANDS=      2\n";
const std::string lattice =
    "  direct lattice vectors                 reciprocal lattice vectors\n"
    "     2.0 0.0 0.0   0.5 0.0 0.0\n"
    "     0.0 2.0 0.0   0.0 0.5 0.0\n"
    "     0.0 0.0 2.0   0.0 0.0 0.5\n";
const std::string fermi = " E-fermi :   1.0000     XC(G=0): -10.0\n";

// A block as listings print it; from k-point 1000 on older listings run the number into
// the word ("k-point1000"), as `run_together` makes it.
std::string block(int k, const char* energies, const char* separator = "\n", bool run_together = false) {
    return " k-point" + std::string(run_together ? "" : "     ") + std::to_string(k) +
           " :       0.0000    0.0000    0.5000\n  band No.  band energies     occupation\n" + energies + separator;
}
const std::string blocks = block(1, "  1  -1.0  2.0\n  2  1.5  0.0\n") + block(2, "  1  -0.5  2.0\n  2  2.5  0.0\n");
const std::vector<float> energies = {-1.0f, 1.5f, -0.5f, 2.5f};

std::vector<float> table(const listing& l, int spin) {
    const float* e = l.eband[static_cast<std::size_t>(spin)].get();
    return {e, e + std::ptrdiff_t{l.nkpts} * l.nbands};
}

// Listings that hold the same two blocks, laid out the ways real listings lay them out.
TEST(listing, layouts_read_alike) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"historic", "head\n" + historic_dims + lattice + fermi + "\n\n" + blocks},
        {"current", current_dims + lattice + fermi + "\n Fermi energy:   1.0000000000\n\n" + blocks},
        {"gap lines", current_dims + lattice + fermi + "\n VBM: 1.2\n CBM: 1.4\n gap: 0.2\n\n" + blocks},
        {"spin 1 only", current_dims + lattice + fermi + "\n spin component 1\n\n" + blocks},
        {"fermi line as separator",
         current_dims + lattice + fermi + "\n\n" + block(1, "  1  -1.0  2.0\n  2  1.5  0.0\n", " Fermi energy: 1.0\n") +
             block(2, "  1  -0.5  2.0\n  2  2.5  0.0\n")},
        {"last line without newline", current_dims + lattice + fermi + "\n\n" + blocks.substr(0, blocks.size() - 1)},
        {"windows line ends", historic_dims + lattice + fermi + "\r\n\r\n" + blocks},
        {"out of order band numbers",
         historic_dims + lattice + fermi + "\n\n" + block(1, "  2  -1.0  2.0\n  1  1.5  0.0\n") +
             block(2, "  2  -0.5  2.0\n  1  2.5  0.0\n")},
        {"numbers run into k-point", historic_dims + lattice + fermi + "\n\n" +
                                         block(1000, "  1  -1.0  2.0\n  2  1.5  0.0\n", "\n", true) +
                                         block(1001, "  1  -0.5  2.0\n  2  2.5  0.0\n", "\n", true)},
        {"signed band numbers", historic_dims + lattice + fermi + "\n\n" + block(1, "  +1  -1.0  2.0\n  -2  1.5  0.0\n") +
                                    block(2, "  1  -0.5  2.0\n  2  2.5  0.0\n")},
        {"long line of NULs", historic_dims + lattice + std::string(300000, '\0') + "\n" + fermi + "\n\n" + blocks},
        {"second NKPTS line ignored", historic_dims + "   NKPTS = 7 x x x x x 9\n" + lattice + fermi + "\n\n" + blocks},
    };
    for (const auto& c : cases) {
      // Read whole, and with buffers so small that every line makes them grow.
      // and with a band table of one value at first, which grows with data in it.
      for (const std::size_t buffer : {std::size_t{1} << 20, std::size_t{16}, std::size_t{33}}) {
        const auto o = read(c.text, 1.0f, {buffer, buffer == 33 ? std::size_t{1} : 0});
        ASSERT_FALSE(o.failure) << c.name << ": " << bandcut::failure_words(*o.failure) << " at " << o.failure->line;
        EXPECT_EQ(o.bands.nkpts, 2) << c.name;
        EXPECT_EQ(o.bands.nbands, 2) << c.name;
        EXPECT_EQ(o.bands.nspin, 1) << c.name;
        EXPECT_EQ(table(o.bands, 0), energies) << c.name;
        EXPECT_EQ(o.bands.reciprocal[2][2], 0.5f) << c.name;
        EXPECT_EQ(o.bands.kpoint[1][2], 0.5f) << c.name;
      }
    }
}

TEST(listing, echo_lines) {
    const std::string vectors =
        "NKPTS: 2, NBANDS: 2\n"
        "A1: 2.000000 0.000000 0.000000 \nA2: 0.000000 2.000000 0.000000 \nA3: 0.000000 0.000000 2.000000 \n"
        "B1: 0.500000 0.000000 0.000000 \nB2: 0.000000 0.500000 0.000000 \nB3: 0.000000 0.000000 0.500000 \n"
        "Ef: 5.500000\n";
    const auto o = read(historic_dims + lattice + fermi + "\n\n" + blocks, 5.5f);
    ASSERT_FALSE(o.failure);
    EXPECT_EQ(o.echo, "str=" + historic_dims + vectors);
    // The dimension line is echoed as the C string functions see it: up to a NUL.
    const std::string with_nul = historic_dims.substr(0, historic_dims.size() - 1) + std::string(1, '\0') + " junk\n";
    const auto nul = read(with_nul + lattice + fermi + "\n\n" + blocks, 5.5f);
    ASSERT_FALSE(nul.failure);
    EXPECT_EQ(nul.echo, "str=" + historic_dims + vectors);
}

// The lattice block's rows are fixed-width (3X, 3F13.9, 3X, 3F13.9): lengths of 100 A or
// more fill their fields and touch, and are read by column; other rows by blanks.
TEST(listing, lattice_rows_that_touch_are_read_by_column) {
    const struct {
        const char* name;
        std::string rows;
        std::array<double, 3> a2, b3;
    } cases[] = {
        {"a hexagonal cell of 130 A",
         "   130.000000000  0.000000000  0.000000000     0.007692308  0.004441156  0.000000000\n"
         "   -65.000000000112.583302492  0.000000000     0.000000000  0.008882312  0.000000000\n"
         "     0.000000000  0.000000000 20.000000000     0.000000000  0.000000000  0.050000000\n",
         {-65.0, 112.583302492, 0.0}, {0.0, 0.0, 0.05}},
        {"a slab of 100 A",
         "     3.000000000  0.000000000  0.000000000     0.333333333  0.000000000  0.000000000\n"
         "     0.000000000  3.000000000  0.000000000     0.000000000  0.333333333  0.000000000\n"
         "     0.000000000  0.000000000100.000000000     0.000000000  0.000000000  0.010000000\n",
         {0.0, 3.0, 0.0}, {0.0, 0.0, 0.01}},
        {"the layout with blanks after it",
         "     2.000000000  0.000000000  0.000000000     0.500000000  0.000000000  0.000000000  \n"
         "     0.000000000  2.000000000  0.000000000     0.000000000  0.500000000  0.000000000\t\n"
         "     0.000000000  0.000000000  2.000000000     0.000000000  0.000000000  0.500000000\n",
         {0.0, 2.0, 0.0}, {0.0, 0.0, 0.5}},
        {"hand-written rows, by blanks", "  2 0 0  0.5 0 0\n 0 2 0 0 0.5 0\n0 0 2 0 0 0.5\n", {0.0, 2.0, 0.0}, {0.0, 0.0, 0.5}},
    };
    for (const auto& c : cases) {
        const auto o = read(historic_dims + "  direct lattice vectors                 reciprocal lattice vectors\n" + c.rows +
                            fermi + "\n\n" + blocks);
        ASSERT_FALSE(o.failure) << c.name << ": " << bandcut::failure_words(*o.failure);
        EXPECT_EQ(o.bands.direct_double[1], c.a2) << c.name;
        EXPECT_EQ(o.bands.reciprocal_double[2], c.b3) << c.name;
        EXPECT_EQ(o.bands.direct[1][1], static_cast<float>(c.a2[1])) << c.name;
    }
}

TEST(listing, second_spin_component) {
    const auto spin2 = block(1, "  1  -3.0  1.0\n  2  3.5  0.0\n") + block(2, "  1  -2.5  1.0\n  2  4.5  0.0\n");
    const auto first = block(1, "  1  -1.0  2.0\n  2  1.5  0.0\n");
    const auto crlf = [](std::string text) {
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, "\r");
        return text;
    };
    const std::string spin1 = current_dims + lattice + fermi + "\n spin component 1\n\n";
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"after an empty line", spin1 + blocks + "\n spin component 2\n\n" + spin2},
        {"after several empty lines", spin1 + blocks + "\n\n\n spin component 2\n" + spin2},
        {"in place of the last separator", spin1 + first + block(2, "  1  -0.5  2.0\n  2  2.5  0.0\n", " spin component 2\n") +
                                               spin2},
        {"windows line ends", crlf(spin1 + blocks + "\n spin component 2\n\n" + spin2)},
        {"ISPIN = 2 says so too", current_dims + "   ISPIN  =      2    spin polarized calculation?\n" + lattice + fermi +
                                      "\n spin component 1\n\n" + blocks + "\n spin component 2\n\n" + spin2},
    };
    for (const auto& c : cases) {
        const auto o = read(c.text);
        ASSERT_FALSE(o.failure) << c.name << ": " << bandcut::failure_words(*o.failure);
        EXPECT_EQ(o.bands.nspin, 2) << c.name;
        EXPECT_EQ(table(o.bands, 0), energies) << c.name;
        EXPECT_EQ(table(o.bands, 1), (std::vector<float>{-3.0f, 3.5f, -2.5f, 4.5f})) << c.name;
        EXPECT_TRUE(o.echo.ends_with("spin component 2: bands 3 to 4\n")) << c.name;
    }
    // The marker must follow the first set closely; later text does not make a second set.
    const auto later = read(current_dims + lattice + fermi + "\n\n" + blocks + " other text\n spin component 2\n" + spin2);
    ASSERT_FALSE(later.failure);
    EXPECT_EQ(later.bands.nspin, 1);
    // ISPIN = 1: no second component is looked for.
    const auto one = read(current_dims + "   ISPIN  =      1    spin polarized calculation?\n" + lattice + fermi + "\n\n" +
                          blocks + "\n spin component 2\n\n" + spin2);
    ASSERT_FALSE(one.failure);
    EXPECT_EQ(one.bands.nspin, 1);
}

// Each failure names its reason and its line, and says what it found in words.
TEST(listing, failures_name_their_reason_and_line) {
    using R = bandcut::reason;
    const struct {
        const char* name;
        std::string text;
        long line;
        bandcut::reason why;
        const char* what;
    } cases[] = {
        {"no dimension line", lattice + fermi, 5, R::missing_marker, "no line holding \"NKPTS\""},
        {"no k-point count", "NKPTS = many\n" + lattice, 1, R::bad_counts, "no k-point count after \"NKPTS\""},
        {"too many k-points", "NKPTS = 3000000000 NBANDS = 1\n", 1, R::bad_counts, "impossible counts NKPTS 3000000000 and NBANDS 1"},
        {"no lattice marker", historic_dims + fermi, 2, R::missing_marker, "no line holding \"reciprocal lattice vectors\""},
        {"lattice cut short", historic_dims + lattice.substr(0, 98), 3, R::listing_ends, "the listing ends inside the lattice vectors"},
        {"no E-fermi", historic_dims + lattice + blocks, 15, R::missing_marker, "no line holding \"E-fermi\""},
        {"ends after E-fermi", historic_dims + lattice + fermi + "\n", 7, R::listing_ends, "the listing ends before its first k-point block"},
        {"no header", historic_dims + lattice + fermi + "\n\n text\n", 9, R::listing_ends, "the listing ends before k-point block 1 of 2"},
        {"second block missing", historic_dims + lattice + fermi + "\n\n" + block(1, "  1  -1.0  2.0\n  2  1.5  0.0\n"), 13,
         R::listing_ends, "the listing ends before k-point block 2 of 2"},
        {"band line short", historic_dims + lattice + fermi + "\n\n" + block(1, "  1  -1.0  2.0\n  2\n"), 12,
         R::bad_band_line, "band line without an energy"},
        {"band number missing", historic_dims + lattice + fermi + "\n\n" + block(1, "  1  -1.0  2.0\n  b  1.0  2.0\n"), 12,
         R::bad_band_line, "band line without an energy"},
        {"NBANDS beyond 32 bits", "NKPTS = 2 x x x x NBANDS 2147483648\n", 1,
         R::bad_counts, "impossible counts NKPTS 2 and NBANDS 2147483648"},
        {"a negative band count", "NKPTS = 2 x x x x NBANDS -2\n", 1, R::bad_counts, "impossible counts NKPTS 2 and NBANDS -2"},
        {"quasiparticle tables", historic_dims + lattice + fermi + "\n\n k-point 1 : 0 0 0\n  band No.  KS-energies  QP-energies"
                                 "   sigma(KS)   V_xc(KS)     V^pw_x(r,r')   Z            occupation\n\n"
                                 "      1     -10.6914     -11.5224     -13.1578     -12.2189     -17.0452       0.8845       2.0000\n",
         10, R::quasiparticle_tables, "the listing holds quasiparticle tables (KS-energies, QP-energies), not band energies"},
        {"NBANDS far beyond 64 bits", "NKPTS = 2 x x x x NBANDS 99999999999999999999999\n", 1,
         R::bad_counts, "impossible counts NKPTS 2 and NBANDS 9223372036854775807"},
        // A file cut at its end, mid-line, inside the blocks.
        {"cut inside the last energy", historic_dims + lattice + fermi + "\n\n" + blocks.substr(0, blocks.size() - 6), 17,
         R::listing_ends, "the listing ends inside k-point block 2 of 2"},
        {"cut inside a header", historic_dims + lattice + fermi + "\n\n" + block(1, "  1  -1.0  2.0\n  2  1.5  0.0\n") +
                                    " k-point     2 :       0.0000", 14, R::listing_ends, "the listing ends inside k-point block 2 of 2"},
        {"cut inside the column heads", historic_dims + lattice + fermi + "\n\n k-point 1 : 0 0 0\n  band No.", 10,
         R::listing_ends, "the listing ends inside k-point block 1 of 2"},
        {"cut inside a separator", historic_dims + lattice + fermi + "\n\n" + blocks.substr(0, blocks.size() - 1) + "  ", 18,
         R::listing_ends, "the listing ends inside k-point block 2 of 2"},
        {"ISPIN = 2 without a second component", current_dims + "   ISPIN  =      2    spin polarized?\n" + lattice +
                                                     fermi + "\n\n" + blocks + "\n\n",
         21, R::spin_component_2, "the listing ends before spin component 2 (ISPIN = 2)"},
        {"ISPIN = 2, other text where it should begin", current_dims + "   ISPIN  =      2    spin polarized?\n" + lattice +
                                                            fermi + "\n\n" + blocks + "\n ----\n",
         21, R::spin_component_2, "spin component 2 should begin here (ISPIN = 2)"},
        // Spin component 2's blocks must name spin component 1's points, in order.
        {"spin component 2's blocks exchanged", current_dims + "   ISPIN  =      2    spin polarized?\n" + lattice + fermi +
                                                    "\n\n" + blocks + "\n spin component 2\n\n" +
                                                    block(2, "  1  -0.5  2.0\n  2  2.5  0.0\n").replace(34, 6, "0.2500") +
                                                    block(1, "  1  -1.0  2.0\n  2  1.5  0.0\n"),
         23, R::spin_component_2, "the header of k-point block 1 of spin component 2 (0.0000 0.2500 0.5000) is not that of spin component 1 "
             "(0.0000 0.0000 0.5000)"},
        // A many-body run prints other tables after E-fermi: named for what it is.
        {"a frequency table after E-fermi", historic_dims + lattice + fermi + "\n  frequency (omega) grid\n" +
                                                " k-point 1 : 0 0 0\n  1 2 3\n  x\n",
         11, R::many_body_run, "the listing is of a many-body run (a frequency table follows its E-fermi line): what follows E-fermi is "
             "no set of band energies"},
        {"a many-body ALGO", " INCAR:\n   ALGO = GW0\n" + historic_dims + lattice + fermi + "\n\n k-point 1 : 0 0 0\n"
                                                                                      "  1 2 3\n  x\n",
         13, R::many_body_run, "the listing is of a many-body run (ALGO = GW0 at line 2): what follows E-fermi is no set of band energies"},
    };
    for (const auto& c : cases) {
        const auto o = read(c.text);
        ASSERT_TRUE(o.failure) << c.name;
        EXPECT_EQ(o.failure->line, c.line) << c.name;
        EXPECT_STREQ(bandcut::reason_name(o.failure->why), bandcut::reason_name(c.why)) << c.name;
        EXPECT_EQ(bandcut::failure_words(*o.failure), c.what) << c.name;
    }
}

// Band lines in every spelling a listing might use, read as strtof reads each energy.
TEST(listing, random_band_lines_read_like_strtof) {
    std::mt19937_64 rng(99);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto digits = [&](int n) {
        std::string d;
        for (int i = 0; i < n; ++i) d += static_cast<char>('0' + pick(10));
        return d;
    };
    const int nbands = 4000;
    std::string lines;
    std::vector<float> expected;
    for (int b = 1; b <= nbands; ++b) {
        std::string energy = std::string(pick(3) == 0 ? "-" : pick(8) == 0 ? "+" : "");
        const int whole = pick(5), fraction = pick(11);
        energy += digits(whole);
        if (whole == 0 || pick(6) != 0) energy += "." + digits(whole == 0 && fraction == 0 ? 1 : fraction);
        if (pick(12) == 0) energy += (pick(2) ? "e" : "E") + std::string(pick(2) ? "-" : "") + digits(1 + pick(2));
        expected.push_back(std::strtof(energy.c_str(), nullptr));
        const std::string blanks[] = {" ", "   ", "\t", "      ", " \t "};
        lines += blanks[pick(5)] + std::to_string(b) + blanks[pick(5)] + energy +
                 (pick(4) == 0 ? "-0.00100" : blanks[pick(5)] + "2.00000") + (pick(10) == 0 ? "\r\n" : "\n");
    }
    const auto o = read("NKPTS = 1 x x x x NBANDS " + std::to_string(nbands) + "\n" + lattice + fermi + "\n\n" +
                        " k-point 1 : 0 0 0\n heads\n" + lines);
    ASSERT_FALSE(o.failure) << bandcut::failure_words(*o.failure) << " at " << o.failure->line;
    for (int b = 0; b < nbands; ++b)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(o.bands.eband[0][static_cast<std::size_t>(b)]),
                  std::bit_cast<std::uint32_t>(expected[static_cast<std::size_t>(b)]))
            << "band " << b + 1;
}

// Later sets of band energies are counted by a plain search of the rest of the file,
// buffer by buffer: a marker cut by a buffer's end must still count, once.
TEST(listing, later_sets_counted_across_buffer_ends) {
    const std::string head = historic_dims + lattice + fermi + "\n\n" + blocks + "----\n";
    std::string markers;
    for (int i = 0; i < 500000; ++i) markers += "E-fermi\n";  // 4 MB: several buffers
    for (int offset = 0; offset < 8; ++offset) {
        const auto o = read(head + std::string(static_cast<std::size_t>(offset), 'x') + markers);
        ASSERT_FALSE(o.failure);
        EXPECT_EQ(o.bands.sets, 500001) << offset;
    }
    EXPECT_EQ(read(head).bands.sets, 1);
    EXPECT_EQ(read(head + fermi).bands.sets, 2);
}

// The counts are the fourth and ninth tokens of the dimension line, as the historic
// format reads them; only where those are no integers does the keyword decide.
TEST(listing, counts_by_position_before_keyword) {
    const struct {
        const char* line;
        std::int32_t nkpts, nbands;
    } cases[] = {
        {"   k-points NKPTS =      2   number of bands NBANDS=      2", 2, 2},
        {" a b c 2 d e f g 2 NKPTS= 7 NBANDS= 9", 2, 2},
        {"   k-points           NKPTS =      2   k-points in BZ     NKDIM =      2   number of bands    NBANDS=      2",
         2, 2},
        {"NKPTS=2 NBANDS=2", 2, 2},
    };
    for (const auto& c : cases) {
        const auto o = read(std::string(c.line) + "\n" + lattice + fermi + "\n\n" + blocks);
        ASSERT_FALSE(o.failure) << c.line << ": " << bandcut::failure_words(*o.failure);
        EXPECT_EQ(o.bands.nkpts, c.nkpts) << c.line;
        EXPECT_EQ(o.bands.nbands, c.nbands) << c.line;
    }
}

TEST(listing, a_last_line_outside_the_blocks_needs_no_newline) {
    for (const char* tail : {"----", "\n-----", "\n\n E-fermi"}) {
        const auto o = read(historic_dims + lattice + fermi + "\n\n" + blocks + tail);
        ASSERT_FALSE(o.failure) << tail << ": " << bandcut::failure_words(*o.failure);
        EXPECT_EQ(table(o.bands, 0), energies);
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

// Whether `check` holds when run in a child process that may take no more than 64 MiB of
// data (allocated, touched or not), whatever the test process took before it.  (The
// sanitizers' own memory does not allow the limit: there, only the check runs.)
bool in_a_small_process(const std::function<bool()>& check) {
    const pid_t child = fork();
    if (child == 0) {
        if (!sanitized) {
            const rlimit data{64 << 20, 64 << 20};
            setrlimit(RLIMIT_DATA, &data);
        }
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Memory follows what the listing holds: counts it merely claims cost nothing, in the
// reader or in the selection.
TEST(listing, claimed_counts_take_no_memory) {
    EXPECT_TRUE(in_a_small_process([] {
        const auto o = read("NKPTS = 0 x x x x NBANDS 2000000000\n" + lattice + fermi + "\n\n");
        return !o.failure && o.bands.nkpts == 0 && bandcut::select_bands(o.bands, 1.0f).empty() &&
               !bandcut::nearest_band_edges(o.bands, 1.0f).below;
    }));
    EXPECT_TRUE(in_a_small_process([] {
        const auto claimed = read("NKPTS = 2000000000 x x x x NBANDS 2000000000\n" + lattice + fermi + "\n\n" + blocks);
        return claimed.failure && bandcut::failure_words(*claimed.failure) == "band line without an energy";
    }));
    const auto spin = read("NKPTS = 0 x x x x NBANDS 2147483647\n" + lattice + fermi + "\n\n\n spin component 2\n");
    ASSERT_FALSE(spin.failure);
    EXPECT_TRUE(spin.echo.ends_with("spin component 2: bands 2147483648 to 4294967294\n"));  // no 32-bit overflow
    const auto claimed = read("NKPTS = 2000000000 x x x x NBANDS 2000000000\n" + lattice + fermi + "\n\n" + blocks);
    ASSERT_TRUE(claimed.failure);
    EXPECT_EQ(bandcut::failure_words(*claimed.failure), "band line without an energy");  // the third band line is the separator
}

// Tables of megabytes start on a large-page boundary (so that whole 2 MiB pages can back
// them); every size gives writable memory or, beyond what can be addressed, none.
TEST(listing, tables_of_megabytes_are_aligned_for_large_pages) {
    const struct {
        std::size_t n;
        bool aligned;
    } cases[] = {{0, false}, {1, false}, {(std::size_t{2} << 20) / 4 - 1, false}, {(std::size_t{2} << 20) / 4, true},
                 {(std::size_t{5} << 20) / 4 + 3, true}};
    for (const auto& c : cases) {
        auto t = bandcut::make_table<float>(c.n);
        ASSERT_TRUE(t) << c.n;
        if (c.aligned) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(t.get()) % (std::size_t{2} << 20), 0u) << c.n;
        }
        for (std::size_t i = 0; i < c.n; ++i) t[i] = static_cast<float>(i);
        if (c.n) {
            EXPECT_EQ(t[c.n - 1], static_cast<float>(c.n - 1));
        }
    }
    EXPECT_FALSE(bandcut::make_table<bandcut::vec3>(SIZE_MAX / 4));
}

// Where the system gives huge pages on request, a table of megabytes has asked for them:
// the kernel's map of the process says its memory may take them.
TEST(listing, tables_of_megabytes_ask_for_huge_pages) {
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    if (!std::getline(mode, modes) || modes.find("[never]") != std::string::npos)
        GTEST_SKIP() << "no transparent huge pages here";
    const auto t = bandcut::make_table<float>(std::size_t{3} << 20);
    const auto at = reinterpret_cast<std::uintptr_t>(t.get());
    std::ifstream maps("/proc/self/smaps");
    bool inside = false, eligible = false, seen = false;
    for (std::string line; std::getline(maps, line);) {
        std::uintptr_t from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%zx-%zx ", &from, &to) == 2 && line.find(':') > line.find(' ')) {
            inside = from <= at && at < to;
        } else if (inside && line.starts_with("THPeligible:")) {
            seen = true;
            eligible = line.find('1') != std::string::npos;
        }
    }
    if (!seen) GTEST_SKIP() << "the kernel's map says nothing of huge pages";
    EXPECT_TRUE(eligible);
}

TEST(listing, header_coordinates) {
    const auto o = read(historic_dims + lattice + fermi + "\n\n" + " k-point1000 :  0.1250 -0.2500  0.5000\n heads\n 1 1.0 2\n 2 2.0 0\n\n" +
                        " 1 2 3 0.25 0.5 0.75\n heads\n 1 1.0 2\n 2 2.0 0\n");
    ASSERT_FALSE(o.failure) << bandcut::failure_words(*o.failure);
    EXPECT_EQ(o.bands.kpoint[0], (bandcut::vec3{0.125f, -0.25f, 0.5f}));
    EXPECT_EQ(o.bands.kpoint[1], (bandcut::vec3{0.25f, 0.5f, 0.75f}));
}

}  // namespace
