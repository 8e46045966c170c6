// The built program, run as a user runs it: arguments, options, and what it says on
// standard error.
#include "run_bandcut.hpp"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

using bandcut_test::kpoint;
using bandcut_test::listing_text;
using bandcut_test::mesh;
using bandcut_test::previous_file;
using bandcut_test::run_bandcut;

// A 2 x 2 x 2 mesh of two bands: band 1 runs from 4.00 to 5.75 eV, band 2 lies at 9 eV.
std::vector<double> two_bands(int i1, int i2, int i3) { return {4.0 + i1 + 0.5 * i2 + 0.25 * i3, 9.0}; }
const std::string small = listing_text(mesh(2, 2, 2, 0, two_bands));
const std::string placed = "bandcut: note: placed the 8 k-points of the full 2 x 2 x 2 mesh\n";

TEST(cli, arguments_say_how_they_were_read) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {"numbers", {"2", "+2", " 2", "5.2"}, 0, placed},
        {"a number then blanks", {"2 ", "2", "2", "5.2\t"}, 0, placed},
        {"text after a count", {"2x", "2", "2", "5.2"}, 0,
         "bandcut: warning: nkx \"2x\" was read as 2 (the text from \"x\" on is not part of a number)\n" + placed},
        {"a decimal comma", {"2", "2", "2", "5,2"}, 0,
         "bandcut: warning: Ef \"5,2\" was read as 5.000000 (the text from \",\" on is not part of a number)\n" + placed},
        {"a fraction for a count", {"2", "2", "2.5", "5.2"}, 0,
         "bandcut: warning: nkz \"2.5\" was read as 2 (the text from \".\" on is not part of a number)\n" + placed},
        {"a full-width comma", {"2", "2", "2", "5\xEF\xBC\x8C" "2"}, 0,
         "bandcut: warning: Ef \"5\xEF\xBC\x8C" "2\" was read as 5.000000 (the text from \"\xEF\xBC\x8C\" on is not part of "
         "a number)\n" + placed},
        {"no number at all", {"2", "2", "2", ""}, 0,
         "bandcut: warning: Ef \"\" was read as 0.000000 (it holds no number)\n" + placed +
         "bandcut: warning: all bands lie above Ef = 0.000000: the lowest begins at 4.000000 (band 1)\n"},
        {"an emoji after a number: quoted whole", {"2", "2", "2", "5\xF0\x9F\x98\x80"}, 0,
         "bandcut: warning: Ef \"5\xF0\x9F\x98\x80\" was read as 5.000000 (the text from \"\xF0\x9F\x98\x80\" on is not "
         "part of a number)\n" + placed},
        {"Ef overflows double precision", {"2", "2", "2", "1e400"}, 0,
         "bandcut: warning: Ef \"1e400\" was read as inf (too large for single precision)\n" + placed +
             "bandcut: warning: all bands lie below Ef = inf: the highest ends at 9.000000 (band 2)\n"},
        {"Ef overflows single precision", {"2", "2", "2", "1e40"}, 0,
         "bandcut: warning: Ef \"1e40\" was read as inf (too large for single precision)\n" + placed +
         "bandcut: warning: all bands lie below Ef = inf: the highest ends at 9.000000 (band 2)\n"},
        {"Ef underflows single precision", {"2", "2", "2", "1e-50"}, 0,
         "bandcut: warning: Ef \"1e-50\" was read as 0.000000 (too small for single precision)\n" + placed +
         "bandcut: warning: all bands lie above Ef = 0.000000: the lowest begins at 4.000000 (band 1)\n"},
        {"Ef underflows double precision", {"2", "2", "2", "-1e-400"}, 0,
         "bandcut: warning: Ef \"-1e-400\" was read as -0.000000 (too small for single precision)\n" + placed +
         "bandcut: warning: all bands lie above Ef = -0.000000: the lowest begins at 4.000000 (band 1)\n"},
        {"Ef written as infinity is a number", {"2", "2", "2", "inf"}, 0,
         placed + "bandcut: warning: all bands lie below Ef = inf: the highest ends at 9.000000 (band 2)\n"},
        {"Ef not a number: nothing to say about the bands", {"2", "2", "2", "nan"}, 0, placed},
        {"a count beyond 32 bits is clamped, not wrapped", {"4294967297", "1", "1", "5.2"}, 1,
         "bandcut: warning: nkx \"4294967297\" was read as 2147483647 (beyond the 32-bit range of a count)\n"},
        {"beyond 64 bits, with text after it", {"1", "-99999999999999999999x", "1", "5.2"}, 1,
         "bandcut: warning: nky \"-99999999999999999999x\" was read as -2147483648 (the text from \"x\" on is not part "
         "of a number; beyond the 32-bit range of a count)\n"},
    };
    for (const auto& c : cases) {
        const auto r = run_bandcut(c.args, small);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out;
        EXPECT_EQ(r.err, c.err) << c.name;
    }
}

TEST(cli, a_grid_without_points_is_refused_before_the_listing_is_read) {
    const struct {
        std::vector<std::string> args;
        const char* out;
    } cases[] = {
        {{"7", "7", "0", "5.2"}, "the grid needs at least one point along each axis: 7 7 0\n"},
        {{"0", "1", "1", "5.2"}, "the grid needs at least one point along each axis: 0 1 1\n"},
        {{"-3", "2", "2", "5.2"}, "the grid needs at least one point along each axis: -3 2 2\n"},
    };
    for (const auto& c : cases) {
        const auto r = run_bandcut(c.args, std::nullopt);  // no listing: it is never opened
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.fs, previous_file);
        EXPECT_TRUE(r.left.empty());
    }
}

TEST(cli, no_band_crossing_names_the_nearest_band_edges) {
    const struct {
        const char* ef;
        const char* err;  // empty: some band crosses
    } cases[] = {
        {"5.2", ""},
        {"7.5", "bandcut: warning: no band crosses Ef = 7.500000: the bands below end at 5.750000 (band 1), the bands "
                "above begin at 9.000000 (band 2)\n"},
        {"5.75", "bandcut: warning: no band crosses Ef = 5.750000: the bands below end at 5.750000 (band 1), the bands "
                 "above begin at 9.000000 (band 2)\n"},
        {"3", "bandcut: warning: all bands lie above Ef = 3.000000: the lowest begins at 4.000000 (band 1)\n"},
        {"10", "bandcut: warning: all bands lie below Ef = 10.000000: the highest ends at 9.000000 (band 2)\n"},
    };
    for (const auto& c : cases) {
        const auto r = run_bandcut({"2", "2", "2", c.ef}, small);
        EXPECT_EQ(r.status, 0) << c.ef;
        EXPECT_EQ(r.err, placed + c.err) << c.ef;
        ASSERT_TRUE(r.fs) << c.ef;
        EXPECT_EQ(r.fs->find("  BEGIN_BANDGRID_3D\n  0 \n") != std::string::npos, *c.err != '\0') << c.ef;
    }
}

TEST(cli, later_sets_of_band_energies_are_noted_and_the_first_is_kept) {
    const auto one = run_bandcut({"2", "2", "2", "5.2"}, small);
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(one.err, placed);
    // Later ionic steps with other energies: the file still holds the first set's.
    const auto later = mesh(2, 2, 2, 0, [](int, int, int) { return std::vector<double>{1.0, 2.0}; });
    const std::string first_set = small.substr(0, small.rfind("------"));
    for (const int sets : {2, 9}) {
        std::string text = small;
        for (int s = 1; s < sets; ++s) {
            const auto again = listing_text(later);
            text += again.substr(again.find("\n E-fermi"));
        }
        const auto r = run_bandcut({"2", "2", "2", "5.2"}, text);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "bandcut: note: the listing holds " + std::to_string(sets) +
                             " sets of band energies, one per ionic step; FS.bsxf holds the first\n" + placed);
        EXPECT_EQ(r.fs, one.fs);
    }
    // A listing whose first set ends at the end of the file, and one that ends with
    // the next set's marker line alone.
    EXPECT_EQ(run_bandcut({"2", "2", "2", "5.2"}, first_set).err, placed);
    EXPECT_EQ(run_bandcut({"2", "2", "2", "5.2"}, first_set + "\n E-fermi :   5.0000").err,
              "bandcut: note: the listing holds 2 sets of band energies, one per ionic step; FS.bsxf holds the first\n" + placed);
}

TEST(cli, placement_counts_grid_indices_from_the_zone_centre) {
    const auto bands = [](int i1, int i2, int i3) { return std::vector<double>{4.0 + i1 + 0.1 * i2 + 0.01 * i3}; };
    const auto gamma = mesh(3, 2, 2, 0, bands);
    const auto reference = run_bandcut({"3", "2", "2", "4.5"}, listing_text(gamma));
    ASSERT_EQ(reference.status, 0);
    const auto rotated = [](std::vector<kpoint> k, std::ptrdiff_t by) {
        std::rotate(k.begin(), k.begin() + by, k.end());
        return k;
    };
    const std::string half = "bandcut: warning: the grid is shifted off the zone centre by 0.5000 0.5000 0.5000 steps "
                             "along b1 b2 b3; FS.bsxf puts its first point at 0 0 0, so the surface is drawn shifted by as "
                             "much\n";
    const struct {
        const char* name;
        std::vector<kpoint> listed;
        std::string err;
        bool same_as_gamma;
    } cases[] = {
        {"Gamma-centred, listed from Gamma", gamma, "", true},
        {"Gamma-centred, listed from another point", rotated(gamma, 5), "", true},
        {"shifted by half a step", mesh(3, 2, 2, 0.5, bands), half, true},  // same values, same places
        {"shifted, listed from another point", rotated(mesh(3, 2, 2, 0.5, bands), 7), half, true},
    };
    for (const auto& c : cases) {
        const auto r = run_bandcut({"3", "2", "2", "4.5"}, listing_text(c.listed));
        EXPECT_EQ(r.status, 0) << c.name;
        EXPECT_EQ(r.err, "bandcut: note: placed the 12 k-points of the full 3 x 2 x 2 mesh\n" + c.err) << c.name;
        EXPECT_EQ(r.fs == reference.fs, c.same_as_gamma) << c.name;
    }
    // A listing that does not hold the grid says so once, without a shift warning.
    auto repeated = mesh(2, 1, 1, 0.5, bands);
    repeated[1] = {repeated[0].c, {5.0}};
    const auto r = run_bandcut({"2", "1", "1", "4.5"}, listing_text(repeated));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "bandcut: warning: k-point 2 (0.2500 0.5000 0.5000) repeats a grid point: the listing does not hold "
                     "the full 2 x 1 x 1 grid; no unfolding: the listing prints its k-points with four decimals only; "
                     "values are written in listing order\n");
}

TEST(cli, messages_come_in_the_order_the_run_meets_their_causes) {
    auto listed = mesh(2, 2, 2, 0, two_bands);
    std::swap(listed[0], listed[3]);  // still the full mesh, listed from another point
    listed[7] = listed[6];            // now not the mesh
    std::string text = listing_text(listed);
    text += text.substr(text.find("\n E-fermi"));
    const auto r = run_bandcut({"2", "2", "2.0", "12"}, text);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "bandcut: warning: nkz \"2.0\" was read as 2 (the text from \".\" on is not part of a number)\n"
              "bandcut: note: the listing holds 2 sets of band energies, one per ionic step; FS.bsxf holds the first\n"
              "bandcut: warning: k-point 8 (0.0000 0.5000 0.5000) repeats a grid point: the listing does not hold the "
              "full 2 x 2 x 2 grid; no unfolding: the listing prints its k-points with four decimals only; values are "
              "written in listing order\n"
              "bandcut: warning: all bands lie below Ef = 12.000000: the highest ends at 9.000000 (band 2)\n");
}

TEST(cli, options) {
    const std::string usage = "should be like: \n./a.out nkx nky nkz Ef \n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string out_starts;
    } cases[] = {
        {"--version", {"--version"}, 0, "bandcut " BANDCUT_VERSION "\n"},
        {"--help", {"--help"}, 0, usage + "\nRun in the folder of a finished calculation."},
        {"an option after the arguments", {"2", "2", "2", "5.2", "--version"}, 0, "bandcut " BANDCUT_VERSION "\n"},
        {"the first of --help and --version decides", {"--version", "--help"}, 0, "bandcut " BANDCUT_VERSION "\n"},
        {"--help beside an unknown option", {"--frobnicate", "--help"}, 0, usage},
        {"an unknown option", {"2", "2", "2", "5.2", "--frobnicate"}, 1, "unknown option --frobnicate\n" + usage},
        {"after a bare --, nothing is an option", {"--", "2", "2", "2", "--help"}, 0, ""},
        {"a count may be negative", {"-3", "2", "2", "5.2"}, 1, "the grid needs at least one point"},
        {"too few arguments", {"2", "2", "--", "5.2"}, 1, usage},
    };
    for (const auto& c : cases) {
        const auto r = run_bandcut(c.args, small);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_TRUE(r.out.starts_with(c.out_starts)) << c.name << ":\n" << r.out;
        if (c.status == 0 && !c.out_starts.empty()) {
            EXPECT_EQ(r.fs, previous_file) << c.name;  // options only: nothing else runs
            EXPECT_EQ(r.err, "") << c.name;
        }
    }
    // "--help" after "--" is Ef: read as 0.
    const auto r = run_bandcut({"--", "2", "2", "2", "--help"}, small);
    EXPECT_EQ(r.err,
              "bandcut: warning: Ef \"--help\" was read as 0.000000 (the text from \"-\" on is not part of a number)\n" +
                  placed + "bandcut: warning: all bands lie above Ef = 0.000000: the lowest begins at 4.000000 (band 1)\n");
}

}  // namespace

namespace {

// A mesh whose every band crosses 5 eV: a large FS.bsxf from a modest listing.
std::string crossing_listing(int n, int bands) {
    return listing_text(mesh(n, n, n, 0, [n, bands](int i1, int i2, int i3) {
        std::vector<double> e;
        for (int b = 0; b < bands; ++b) e.push_back(4.0 + 0.01 * b + 0.5 * (i1 + i2 + i3) / n);
        return e;
    }));
}

// Hostile listings: each ends with a message and status 1, leaving the previous FS.bsxf
// as it was, nothing else behind, and taking little memory, whatever its counts claim.
TEST(cli, hostile_listings_leave_everything_as_it_was) {
    const std::string dims = " Dimension of arrays:\n   k-points           NKPTS = ";
    const std::string lattice = "\n      direct lattice vectors                 reciprocal lattice vectors\n"
                                "     3.0 0.0 0.0     0.333333333  0.0 0.0\n     0.0 3.0 0.0     0.0 0.333333333 0.0\n"
                                "     0.0 0.0 3.0     0.0 0.0 0.333333333\n";
    const std::string whole = small;
    const auto cut = whole.substr(0, whole.rfind("      2       9.0000") + 17);  // "9.0000" cut to "9."
    const auto body = whole.find('\n', whole.find("NBANDS"));  // after the dimension line
    const auto spin = [&](const std::string& tail) {
        return " Dimension of arrays:\n   k-points           NKPTS =      8   k-points in BZ     NKDIM =      8   number of "
               "bands    NBANDS=      2\n   ISPIN  =      2    spin polarized calculation?" +
               whole.substr(body, whole.find("\n-----", body) + 1 - body) + tail;
    };
    const struct {
        const char* name;
        std::string outcar;
        std::string last_line;  // of standard output
        std::string out_holds = "";
        bool folder = false;  // OUTCAR is a folder
    } cases[] = {
        {"a listing cut inside its last energy", cut, "OUTCAR:51: the listing ends inside k-point block 8 of 8"},
        // A failure that concerns no line of the listing names the file alone.
        {"an empty file", "", "OUTCAR: no line holding \"NKPTS\""},
        {"a folder named OUTCAR", "", "OUTCAR: a read error", "", true},
        {"ISPIN = 2, cut before the second component", spin(""),
         "OUTCAR:52: the listing ends before spin component 2 (ISPIN = 2)"},
        {"NKPTS 0 and 2e9 bands", dims + "0   number of bands    NBANDS= 2000000000\n" + lattice + " E-fermi : 0\n\n\n",
         "OUTCAR:2: the grid 2 x 2 x 2 needs 8 k-points but the listing has 0 (NKPTS); no unfolding: the listing prints "
         "its k-points with four decimals only"},
        {"2^31 - 1 bands in two spin components", dims + "0   number of bands    NBANDS= 2147483647\n" + lattice +
                                                      " E-fermi : 0\n\n\n spin component 2\n",
         "OUTCAR:2: the grid 2 x 2 x 2 needs 8 k-points but the listing has 0 (NKPTS); no unfolding: the listing prints "
         "its k-points with four decimals only",
         "spin component 2: bands 2147483648 to 4294967294\n"},
        {"2e9 k-points claimed, 8 listed", dims + "2000000000   number of bands    NBANDS=      2" +
                                               whole.substr(body),
         "OUTCAR:52: the listing ends before k-point block 9 of 2000000000"},
        // 2^31 - 1 bands claimed, two listed: the table grows with the band lines read,
        // never to the 8 GiB the count asks for.
        {"2^31 - 1 bands claimed, 2 listed", dims + "8   number of bands    NBANDS= 2147483647" + whole.substr(body),
         "OUTCAR:16: band line without an energy"},
    };
    // Little memory to take: what a claimed count would ask for at once is refused by the
    // system.  (The sanitizers' own memory does not allow the limit.)
    const auto limited = [](const std::function<void()>& then) {
        return [then] {
            if (!sanitized) {
                const rlimit data{256 << 20, 256 << 20};
                setrlimit(RLIMIT_DATA, &data);
            }
            if (then) then();
        };
    };
    for (const auto& c : cases) {
        const auto r = c.folder ? run_bandcut({"2", "2", "2", "5.2"}, std::nullopt, limited([] { mkdir("OUTCAR", 0755); }))
                                : run_bandcut({"2", "2", "2", "5.2"}, c.outcar, limited({}));
        EXPECT_EQ(r.status, 1) << c.name;
        const auto last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
        EXPECT_EQ(last, c.last_line + "\n") << c.name;
        EXPECT_NE(r.out.find(c.out_holds), std::string::npos) << c.name;
        EXPECT_EQ(r.fs, previous_file) << c.name;
        EXPECT_TRUE(r.left.empty()) << c.name;
        EXPECT_LT(r.max_rss_kib, 64 * 1024) << c.name;
    }
}

// A file-size limit, with SIGXFSZ as the shell leaves it (it would kill the run): the
// write fails with a message instead, and the old file stays.
TEST(cli, a_file_size_limit_is_a_write_error) {
    const auto limited = [] {
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{2048, 2048};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    const auto r = run_bandcut({"8", "8", "8", "5.2"}, crossing_listing(8, 6), limited);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with("FS.bsxf: write error (disk full?); the previous FS.bsxf is left as it was\n")) << r.out;
    EXPECT_EQ(r.fs, previous_file);
    EXPECT_TRUE(r.left.empty());
    // With --frmsf, neither file is replaced unless both were written whole.
    const auto both = run_bandcut({"8", "8", "8", "5.2", "--frmsf"}, crossing_listing(8, 6), limited);
    EXPECT_EQ(both.status, 1);
    EXPECT_TRUE(both.out.ends_with("FS.bsxf, FS.frmsf: write error (disk full?); the previous files are left as they "
                                   "were\n"))
        << both.out;
    EXPECT_EQ(both.fs, previous_file);
    EXPECT_TRUE(both.left.empty());
    const auto picture = run_bandcut({"8", "8", "8", "5.2", "--svg"}, crossing_listing(8, 6), limited);
    EXPECT_TRUE(picture.out.ends_with("FS.bsxf, FS.svg: write error (disk full?); the previous files are left as they "
                                      "were\n"))
        << picture.out;
    EXPECT_TRUE(picture.left.empty());
}

// --sheets prints the sheets' numbers after the echo, or, without a mesh to integrate
// over, says why; the file is written either way.
TEST(cli, the_numbers_of_each_sheet) {
    const auto r = run_bandcut({"2", "2", "2", "5.2", "--sheets"}, small);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.find("Ef: 5.200000\nsheet  spin  band   electrons    holes    carriers/cm^3   DOS(Ef) states/eV/cell\n"
                           "    1     1     1      ") != std::string::npos)
        << r.out;
    EXPECT_TRUE(r.out.find("\nelectrons below Ef on the grid: ") != std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with(" states/eV/cell\n")) << r.out;
    auto listed = mesh(2, 2, 2, 0, two_bands);
    listed[7] = listed[6];  // not the mesh: listing order
    const auto order = run_bandcut({"2", "2", "2", "5.2", "--sheets", "--svg"}, listing_text(listed));
    EXPECT_EQ(order.status, 0);
    EXPECT_TRUE(order.err.ends_with("bandcut: warning: --sheets: the k-points are written in listing order: there is no "
                                    "mesh to integrate over\n"
                                    "bandcut: warning: --svg: the k-points were taken in listing order, not placed on the "
                                    "grid: where each lies is not known, so there is no plane to draw; FS.svg is not "
                                    "written\n"))
        << order.err;
    EXPECT_TRUE(order.fs && order.fs->ends_with("END_BLOCK_BANDGRID_3D\n"));
    EXPECT_TRUE(order.left.empty());
}

// --frmsf writes the other viewer's file beside the band-grid file, which stays as it was
// without it, and says which kind of grid it names.
TEST(cli, the_other_viewers_file_beside_the_band_grid_file) {
    const auto plain = run_bandcut({"2", "2", "2", "5.2"}, small);
    const auto r = run_bandcut({"--frmsf", "2", "2", "2", "5.2"}, small);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.fs, plain.fs);
    EXPECT_EQ(r.left, std::vector<std::string>{"FS.frmsf"});
    EXPECT_EQ(r.err, placed + "bandcut: note: FS.frmsf names its grid as kind 1 (centred on the zone centre): every value "
                              "where its k-point lies\n");
    const auto picture = run_bandcut({"2", "2", "2", "5.2", "--svg", "--frmsf"}, small);
    EXPECT_EQ(picture.status, 0);
    EXPECT_EQ(picture.fs, plain.fs);
    EXPECT_EQ(picture.left, (std::vector<std::string>{"FS.frmsf", "FS.svg"}));
}

// SIGTERM while a large file is written: whenever it arrives, no temporary file stays and
// FS.bsxf is either the old one or the whole new one.
TEST(cli, a_stopping_signal_during_the_write_leaves_nothing_behind) {
    bool signalled_during_the_write = false;
    const auto r = run_bandcut({"24", "24", "24", "5.2"}, crossing_listing(24, 40), {}, [&](int pid, const std::string& dir) {
        for (int tries = 0; tries < 100000; ++tries) {
            bool partial = false;
            if (DIR* d = opendir(dir.c_str())) {
                while (const dirent* e = readdir(d)) partial = partial || std::string(e->d_name).find(".partial-") != std::string::npos;
                closedir(d);
            }
            if (partial) {
                kill(pid, SIGTERM);
                signalled_during_the_write = true;
                return;
            }
            if (waitpid(pid, nullptr, WNOHANG | WNOWAIT) == pid) return;  // done before the file appeared
            usleep(100);
        }
    });
    EXPECT_TRUE(r.left.empty());
    if (r.status == 128 + SIGTERM) {
        EXPECT_EQ(r.fs, previous_file);
    } else {
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.fs && r.fs->ends_with("END_BLOCK_BANDGRID_3D\n"));
    }
    EXPECT_TRUE(signalled_during_the_write);
}

}  // namespace
