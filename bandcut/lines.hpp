// The lines of a listing, handed out one at a time, each whole whatever its length: real
// listings hold lines of hundreds of kilobytes of NUL bytes.  The file is read with
// read(2) in large blocks into a buffer small enough for the processor's second-level
// cache, where the kernel's copy lands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

namespace bandcut {

// The buffered text is always followed by a '\n' and some padding, so that a caller may
// scan a line up to its newline, eight or sixteen bytes at a time, without testing for
// the end of the buffer.  A line longer than the buffer makes it grow, doubling, so that a
// line costs at most about twice its length in memory; nothing is cleared that is about
// to be overwritten.
class line_reader {
public:
    // `buffer`: bytes read at a time (at least 16); `longest`: the longest line held, in
    // bytes (a longer one is a fault, `too_long()`): a stream that never ends a line (a
    // pipe, a device) must not take all memory.
    line_reader(std::FILE* in, std::size_t buffer, std::size_t longest = SIZE_MAX);

    // The next line without its newline, valid until the next call; false at the end of
    // the stream or when the stream fails (then `trouble()` says why).
    bool next(std::string_view& line);

    // Whether the line last handed out ended at the end of the stream, without its
    // newline: in the middle of the data, that is a cut file.
    bool unterminated() const { return unterminated_; }

    // The buffered text from the next line on, and how many bytes of it there are (more
    // are readable: the padding); `skip` then hands out the first `lines` lines, `bytes`
    // bytes with their newlines, without looking at them again.
    const char* peek(std::size_t& held) const {
        held = end_ - begin_;
        return buffer_ ? buffer_.get() + begin_ : nullptr;
    }
    void skip(std::size_t lines, std::size_t bytes) {
        begin_ += bytes;
        number_ += lines;
    }

    // How often `marker` occurs in the rest of the stream, found by a plain search of the
    // buffered text (no line splitting); afterwards the stream is at its end.
    std::int64_t count_in_rest(std::string_view marker);

    long number() const { return number_; }  // of the line last handed out, counting from 1
    std::uint64_t bytes() const { return bytes_; }  // read from the stream so far
    const char* trouble() const { return trouble_; }
    bool too_long() const { return too_long_; }  // the fault is a line longer than `longest`

private:
    bool refill();
    bool read_into(char* to, std::size_t size, std::size_t& got);
    bool fault(const char* why) {
        trouble_ = why;
        return false;
    }

    static constexpr std::size_t padding = 32;  // the sentinel and what reads of up to 16 bytes past it touch
    std::FILE* in_;
    int fd_;
    std::size_t capacity_;
    std::size_t longest_;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
    bool unterminated_ = false;
    long number_ = 0;
    std::uint64_t bytes_ = 0;
    const char* trouble_ = nullptr;
    bool too_long_ = false;
};

}  // namespace bandcut
