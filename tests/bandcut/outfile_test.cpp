#include "outfile.hpp"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bandcut::replacement_file;

// A scratch folder, removed with what it holds.
class folder {
public:
    folder() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/outfile-test-XXXXXX";
        if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp");
    }
    ~folder() {
        for (const auto& f : files()) std::remove((path_ + "/" + f).c_str());
        rmdir(path_.c_str());
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(path_.c_str())) {
            while (const dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

std::string read(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(outfile, replaces_only_a_whole_file) {
    folder dir;
    write(dir / "FS.bsxf", "old");
    {
        replacement_file out(dir / "FS.bsxf");
        ASSERT_TRUE(out.open());
        std::fputs("new", out.stream());
        EXPECT_EQ(read(dir / "FS.bsxf"), "old");  // untouched until committed
        EXPECT_EQ(dir.files().size(), 2u);
        EXPECT_EQ(out.commit(), replacement_file::outcome::replaced);
    }
    EXPECT_EQ(read(dir / "FS.bsxf"), "new");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"FS.bsxf"});
}

// A stream already in error when committed (the writer's own check bypassed): the old
// file stays, the temporary goes.  Likewise a file abandoned before its commit.
TEST(outfile, a_failed_stream_is_never_committed) {
    folder dir;
    write(dir / "FS.bsxf", "old");
    {
        replacement_file out(dir / "FS.bsxf");
        ASSERT_TRUE(out.open());
        std::fputs("half", out.stream());
        std::fgetc(out.stream());  // reading a stream opened for writing sets its error flag
        ASSERT_TRUE(std::ferror(out.stream()));
        EXPECT_EQ(out.commit(), replacement_file::outcome::write_failed);
        EXPECT_EQ(out.publish(), replacement_file::outcome::write_failed);  // nothing finished to publish
    }
    {
        replacement_file out(dir / "FS.bsxf");
        ASSERT_TRUE(out.open());
        std::fputs("half", out.stream());
    }
    EXPECT_EQ(read(dir / "FS.bsxf"), "old");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"FS.bsxf"});
}

// Only a regular file is replaced: a folder, a FIFO, a socket or a device at the name is
// named and left as it is (renaming onto a device node as root would replace it, even
// /dev/null); a symbolic link is replaced by the file, what it points to untouched.  The
// same when one takes the name between the opening and the commit.
TEST(outfile, only_regular_files_and_links_are_replaced) {
    const auto kind = [](const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
    };
    const struct {
        const char* name;
        std::function<bool(const std::string&)> make;  // false: cannot be made here
        const char* in_the_way;                       // null: replaced
    } cases[] = {
        {"nothing", [](const std::string&) { return true; }, nullptr},
        {"a regular file", [](const std::string& p) { write(p, "old"); return true; }, nullptr},
        {"a symbolic link", [](const std::string& p) { write(p + ".target", "old"); return symlink((p + ".target").c_str(), p.c_str()) == 0; }, nullptr},
        {"a folder", [](const std::string& p) { return mkdir(p.c_str(), 0755) == 0; }, "a folder"},
        {"a FIFO", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }, "a FIFO"},
        {"a socket", [](const std::string& p) {
             const int s = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un a{};
             a.sun_family = AF_UNIX;
             std::snprintf(a.sun_path, sizeof a.sun_path, "%s", p.c_str());
             const bool made = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
             close(s);
             return made;
         }, "a socket"},
        // The device /dev/null is, made here (as root only): never replaced.
        {"a device", [](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }, "a device"},
    };
    for (const auto& c : cases) {
        for (const bool meanwhile : {false, true}) {
            folder dir;
            const std::string name = dir / "FS.bsxf";
            if (!meanwhile && !c.make(name)) continue;
            replacement_file out(name);
            const bool opened = out.open();
            EXPECT_EQ(opened, meanwhile || !c.in_the_way) << c.name;
            if (!opened) {
                EXPECT_STREQ(out.in_the_way(), c.in_the_way) << c.name;
            } else {
                std::fputs("new", out.stream());
                if (meanwhile && !c.make(name)) continue;
                const auto outcome = out.commit();
                EXPECT_EQ(outcome, c.in_the_way ? replacement_file::outcome::in_the_way : replacement_file::outcome::replaced)
                    << c.name << (meanwhile ? ", made meanwhile" : "");
                if (c.in_the_way) {
                    EXPECT_STREQ(out.in_the_way(), c.in_the_way) << c.name;
                }
            }
            if (c.in_the_way) {
                EXPECT_NE(kind(name), static_cast<unsigned>(S_IFREG)) << c.name;
                EXPECT_EQ(dir.files(), std::vector<std::string>{"FS.bsxf"}) << c.name;  // no temporary file left
            } else {
                EXPECT_EQ(kind(name), static_cast<unsigned>(S_IFREG)) << c.name;
                EXPECT_EQ(read(name), "new") << c.name;
                if (std::string(c.name) == "a symbolic link" && !meanwhile) {
                    EXPECT_EQ(read(name + ".target"), "old");
                }
            }
            std::remove((name + ".target").c_str());
        }
    }
}

TEST(outfile, never_opens_a_file_that_exists) {
    folder dir;
    write(dir / "FS.bsxf.partial-a", "someone else's");
    std::vector<std::string> names{"a", "b"};
    std::size_t next = 0;
    replacement_file out(dir / "FS.bsxf", [&] { return names[std::min(next++, names.size() - 1)]; });
    ASSERT_TRUE(out.open());
    std::fputs("mine", out.stream());
    EXPECT_EQ(out.commit(), replacement_file::outcome::replaced);
    EXPECT_EQ(read(dir / "FS.bsxf.partial-a"), "someone else's");
    EXPECT_EQ(read(dir / "FS.bsxf"), "mine");
}

// A run stopped by SIGTERM, SIGINT or SIGHUP while it writes removes its temporary file
// and ends as the signal ends a run.  The child tells the test when the file is open and
// then waits: no timing is involved.
TEST(outfile, a_stopping_signal_removes_the_temporary_file) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        folder dir;
        write(dir / "FS.bsxf", "old");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            replacement_file out(dir / "FS.bsxf");
            if (!out.open()) _exit(3);
            std::fputs("half-written", out.stream());
            std::fflush(out.stream());
            if (::write(ready[1], "x", 1) != 1) _exit(4);
            for (;;) pause();
        }
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        EXPECT_EQ(dir.files().size(), 2u);  // the temporary file is there
        kill(child, sig);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
        EXPECT_EQ(dir.files(), std::vector<std::string>{"FS.bsxf"}) << sig;
        EXPECT_EQ(read(dir / "FS.bsxf"), "old");
        close(ready[0]);
        close(ready[1]);
    }
}

// Once committed or abandoned, a signal no longer touches the files: the handlers are gone.
TEST(outfile, signals_after_the_write_are_the_default_ones) {
    folder dir;
    {
        replacement_file out(dir / "FS.bsxf");
        ASSERT_TRUE(out.open());
        EXPECT_EQ(out.commit(), replacement_file::outcome::replaced);
    }
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
