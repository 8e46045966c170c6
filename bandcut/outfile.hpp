// A file written beside its final name and renamed onto it only when complete and on the
// disk, so that a failed run (a full disk, an error half-way, a run stopped by SIGTERM,
// SIGINT or SIGHUP) never leaves the previous file truncated, nor a temporary file
// behind.  A run ended otherwise (SIGKILL, which cannot be caught; a crash or an abort;
// a power loss before the rename) leaves the previous file whole, but may leave its
// temporary file "FS.bsxf.partial-N" beside it.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace bandcut {

class replacement_file {
public:
    // `suffix` makes the temporary file's name, name + ".partial-" + suffix(), tried anew
    // when a file of that name exists; a random number unless a test gives its own.
    // `on_signals`: whether SIGTERM, SIGINT and SIGHUP remove the temporary file and end
    // the run (the program's way); a host with signal handlers of its own (an interpreter
    // turning SIGINT into an exception) keeps them, and the temporary file goes with this
    // object however the host unwinds.
    explicit replacement_file(std::string name, std::function<std::string()> suffix = {}, bool on_signals = true);
    ~replacement_file();  // removes the temporary file unless committed
    replacement_file(const replacement_file&) = delete;
    replacement_file& operator=(const replacement_file&) = delete;

    // Creates a new temporary file in the directory of the final name (never opening one
    // that exists), and arranges for SIGTERM, SIGINT and SIGHUP to remove it before they
    // end the run as they would have; false if the directory does not let us, or if the
    // final name is taken by something other than a regular file or a symbolic link (a
    // device, a FIFO, a socket, a folder: `in_the_way()` names it), which a rename would
    // replace.  A symbolic link is replaced by the new file; what it points to is not
    // touched.
    bool open();
    // What stands at the final name when it is no regular file nor symbolic link ("a
    // folder", "a device", "a FIFO", "a socket"); null otherwise.
    const char* in_the_way() const { return in_the_way_; }
    std::FILE* stream() const { return stream_; }

    // Flushes the temporary file, syncs it to the disk, closes it and renames it onto the
    // final name, then syncs the folder so that the rename lasts.  On any error before the
    // rename it removes the temporary file and leaves the final name as it was.
    enum class outcome {
        replaced,
        replaced_unsynced,  // renamed, but the folder could not be synced
        write_failed,
        rename_failed,
        in_the_way,  // something other than a regular file or a link took the final name meanwhile
    };
    outcome commit();
    // The two halves of commit, for files that must be replaced together: finish() flushes,
    // syncs and closes the temporary file (false, and the temporary file removed, on any
    // error); publish() renames a finished file onto the final name.  Two files finished
    // both before either is published are replaced only when both were written whole.
    bool finish();
    outcome publish();
    int sync_error() const { return sync_error_; }  // errno of a folder that could not be synced

private:
    void abandon();
    std::string name_;
    std::function<std::string()> suffix_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    int sync_error_ = 0;
    const char* in_the_way_ = nullptr;
    int slot_ = -1;  // where a stopping signal finds the temporary file
    bool on_signals_ = true;
};

}  // namespace bandcut
