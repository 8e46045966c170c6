#include "outfile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>

namespace bandcut {

namespace {

// The temporary files a signal must remove, in storage the handler may read: async-
// signal-safe code can call unlink, signal and raise, and nothing that allocates.  Two at
// most are written at once: the band-grid file and the second viewer's.
constexpr std::size_t slots = 2;
char pending[slots][4096];
volatile std::sig_atomic_t armed[slots] = {};
int armed_count = 0;
constexpr int stopping[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction previous[3];

extern "C" void remove_and_stop(int sig) {
    for (std::size_t i = 0; i < slots; ++i)
        if (armed[i]) unlink(pending[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);  // ends the run with the signal's usual status, once the handler returns
}

// Holds SIGTERM, SIGINT and SIGHUP back for its lifetime, so that the temporary file and
// the handlers that remove it come and go together.
class held_signals {
public:
    held_signals() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : stopping) sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~held_signals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

// The slot the file at `path` is removed from by a stopping signal, -1 when none is free;
// the first file armed installs the handlers, the last one disarmed restores them.
int arm(const std::string& path) {
    std::size_t slot = 0;
    while (slot < slots && armed[slot]) ++slot;
    if (slot == slots) return -1;
    std::memcpy(pending[slot], path.c_str(), path.size() + 1);
    armed[slot] = 1;
    if (armed_count++ == 0) {
        struct sigaction action {};
        action.sa_handler = remove_and_stop;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < 3; ++i) sigaction(stopping[i], &action, &previous[i]);
    }
    return static_cast<int>(slot);
}

void disarm(int& slot) {
    if (slot < 0) return;
    armed[slot] = 0;
    slot = -1;
    if (--armed_count == 0)
        for (std::size_t i = 0; i < 3; ++i) sigaction(stopping[i], &previous[i], nullptr);
}

// What stands at `path` if it is neither a regular file nor a symbolic link (nor absent):
// renaming onto it would replace a device node or a FIFO, as root even /dev/null.
const char* not_regular(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return nullptr;
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    return "something other than a file";
}

// The folder of a path, for syncing the rename.
std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

replacement_file::replacement_file(std::string name, std::function<std::string()> suffix, bool on_signals)
    : name_(std::move(name)), suffix_(std::move(suffix)), on_signals_(on_signals) {
    if (!suffix_) suffix_ = [] {
        static std::random_device entropy;
        return std::to_string(entropy() % 1000000000u);
    };
}

replacement_file::~replacement_file() { abandon(); }

bool replacement_file::open() {
    // Mode "wx" creates the file only if no file of that name exists, so a name that
    // another run happens to use is never clobbered; a few names are tried.
    const held_signals held;
    if ((in_the_way_ = not_regular(name_))) return false;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary_ = name_ + ".partial-" + suffix_();
        if (temporary_.size() >= sizeof pending[0]) break;
        stream_ = std::fopen(temporary_.c_str(), "wx");
        if (stream_) {
            if (on_signals_) slot_ = arm(temporary_);
            return true;
        }
    }
    temporary_.clear();
    return false;
}

replacement_file::outcome replacement_file::commit() { return finish() ? publish() : outcome::write_failed; }

bool replacement_file::finish() {
    if (!stream_) return false;
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_) && fsync(fileno(stream_)) == 0;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) {
        abandon();
        return false;
    }
    return true;
}

replacement_file::outcome replacement_file::publish() {
    if (temporary_.empty()) return outcome::write_failed;
    {
        const held_signals held;
        if ((in_the_way_ = not_regular(name_))) {
            abandon();
            return outcome::in_the_way;
        }
        if (std::rename(temporary_.c_str(), name_.c_str()) != 0) {
            abandon();
            return outcome::rename_failed;
        }
        temporary_.clear();
        disarm(slot_);
    }
    // The rename lives in the folder: sync it too, where the file system can.
    const int folder = ::open(folder_of(name_).c_str(), O_RDONLY | O_DIRECTORY);
    const bool synced = folder >= 0 && (fsync(folder) == 0 || errno == EINVAL || errno == ENOTSUP);
    sync_error_ = synced ? 0 : errno;
    if (folder >= 0) close(folder);
    return synced ? outcome::replaced : outcome::replaced_unsynced;
}

void replacement_file::abandon() {
    const held_signals held;
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
    disarm(slot_);
}

}  // namespace bandcut
