#include "run_bandcut.hpp"

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef BANDCUT_EXE
#error "the build gives the path of the program under test"
#endif

namespace bandcut_test {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spill(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

run_result run_bandcut(const std::vector<std::string>& args, const std::optional<std::string>& outcar,
                       const std::function<void()>& prepare,
                       const std::function<void(int pid, const std::string& folder)>& during) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/bandcut-test-XXXXXX";
    if (!mkdtemp(dir.data())) throw std::runtime_error("mkdtemp failed");
    if (outcar) spill(dir + "/OUTCAR", *outcar);
    spill(dir + "/FS.bsxf", previous_file);

    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(120);
        const int out = open("stdout.run", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open("stderr.run", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(121);
        close(out);
        close(err);
        if (prepare) prepare();
        std::vector<char*> argv{const_cast<char*>(BANDCUT_EXE)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(BANDCUT_EXE, argv.data());
        _exit(122);
    }
    if (child > 0 && during) during(child, dir);
    int wstatus = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &wstatus, 0, &usage) != child) throw std::runtime_error("cannot run bandcut");

    run_result r;
    r.max_rss_kib = usage.ru_maxrss;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = slurp(dir + "/stdout.run");
    r.err = slurp(dir + "/stderr.run");
    if (exists(dir + "/FS.bsxf")) r.fs = slurp(dir + "/FS.bsxf");
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != ".." && name != "OUTCAR" && name != "FS.bsxf" && name != "stdout.run" &&
                name != "stderr.run")
                r.left.push_back(name);
        }
        closedir(d);
    }
    std::sort(r.left.begin(), r.left.end());
    for (const char* name : {"OUTCAR", "FS.bsxf", "stdout.run", "stderr.run"}) std::remove((dir + "/" + name).c_str());
    for (const auto& name : r.left) std::remove((dir + "/" + name).c_str());
    rmdir(dir.c_str());
    return r;
}

std::string listing_text(const std::vector<kpoint>& blocks, int sets, const std::string& lattice) {
    const std::size_t nbands = blocks.empty() ? 0 : blocks.front().e.size();
    char line[200];
    std::string text = " a listing written by the tests\n Dimension of arrays:\n";
    std::snprintf(line, sizeof line,
                  "   k-points           NKPTS = %6zu   k-points in BZ     NKDIM = %6zu   number of bands    NBANDS= %6zu\n",
                  blocks.size(), blocks.size(), nbands);
    text += line;
    text += "\n      direct lattice vectors                 reciprocal lattice vectors\n";
    text += lattice.empty() ? "     3.000000000  0.000000000  0.000000000     0.333333333  0.000000000  0.000000000\n"
                              "     0.000000000  3.000000000  0.000000000     0.000000000  0.333333333  0.000000000\n"
                              "     0.000000000  0.000000000  3.000000000     0.000000000  0.000000000  0.333333333\n"
                            : lattice;
    for (int set = 0; set < sets; ++set) {
        text += "\n E-fermi :   5.0000     XC(G=0): -10.2373     alpha+bet :-12.9472\n\n\n";
        int number = 0;
        for (const auto& k : blocks) {
            std::snprintf(line, sizeof line, " k-point %5d :    %10.4f%10.4f%10.4f\n", ++number, k.c[0], k.c[1], k.c[2]);
            text += line;
            text += "  band No.  band energies     occupation \n";
            for (std::size_t b = 0; b < k.e.size(); ++b) {
                std::snprintf(line, sizeof line, "%7zu%13.4f%13.5f\n", b + 1, k.e[b], k.e[b] < 5 ? 2.0 : 0.0);
                text += line;
            }
            text += "\n";
        }
        text += "--------------------------------------------------------------------------------\n";
    }
    return text;
}

std::vector<kpoint> mesh(int n1, int n2, int n3, double shift,
                         const std::function<std::vector<double>(int, int, int)>& energy) {
    return mesh(n1, n2, n3, std::array<double, 3>{shift, shift, shift}, energy);
}

std::vector<kpoint> mesh(int n1, int n2, int n3, const std::array<double, 3>& shift,
                         const std::function<std::vector<double>(int, int, int)>& energy) {
    const auto wrapped = [&](int i, int n, std::size_t a) {
        const double c = (i + shift[a]) / n;
        return c > 0.5 ? c - 1 : c;
    };
    std::vector<kpoint> points;
    for (int i3 = 0; i3 < n3; ++i3)
        for (int i2 = 0; i2 < n2; ++i2)
            for (int i1 = 0; i1 < n1; ++i1)
                points.push_back({{wrapped(i1, n1, 0), wrapped(i2, n2, 1), wrapped(i3, n3, 2)}, energy(i1, i2, i3)});
    return points;
}

}  // namespace bandcut_test
