#include "outfile.hpp"

#include <random>

namespace bandcut {

replacement_file::replacement_file(std::string name) : name_(std::move(name)) {}

replacement_file::~replacement_file() { abandon(); }

bool replacement_file::open() {
    // Mode "wx" creates the file only if no file of that name exists, so a name that
    // another run happens to use is never clobbered; a few random names are tried.
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary_ = name_ + ".partial-" + std::to_string(entropy() % 1000000000u);
        stream_ = std::fopen(temporary_.c_str(), "wx");
        if (stream_) return true;
    }
    temporary_.clear();
    return false;
}

replacement_file::outcome replacement_file::commit() {
    if (!stream_) return outcome::write_failed;
    const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) {
        abandon();
        return outcome::write_failed;
    }
    if (std::rename(temporary_.c_str(), name_.c_str()) != 0) {  // say, a folder of that name
        abandon();
        return outcome::rename_failed;
    }
    temporary_.clear();
    return outcome::replaced;
}

void replacement_file::abandon() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}

}  // namespace bandcut
