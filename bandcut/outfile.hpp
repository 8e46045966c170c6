// A file written beside its final name and renamed onto it only when complete, so that a
// failed run (a full disk, an error half-way) never leaves the previous file truncated.
#pragma once

#include <cstdio>
#include <string>

namespace bandcut {

class replacement_file {
public:
    explicit replacement_file(std::string name);
    ~replacement_file();  // removes the temporary file unless committed
    replacement_file(const replacement_file&) = delete;
    replacement_file& operator=(const replacement_file&) = delete;

    // Creates a new temporary file in the directory of the final name; false if that
    // directory does not let us.
    bool open();
    std::FILE* stream() const { return stream_; }

    // Flushes and closes the temporary file and renames it onto the final name.  On any
    // error it removes the temporary file and leaves the final name as it was.
    enum class outcome { replaced, write_failed, rename_failed };
    outcome commit();

private:
    void abandon();
    std::string name_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
};

}  // namespace bandcut
