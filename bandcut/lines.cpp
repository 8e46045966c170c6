#include "lines.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace bandcut {

line_reader::line_reader(std::FILE* in, std::size_t buffer, std::size_t longest)
    : in_(in), fd_(fileno(in)), capacity_(std::max<std::size_t>(buffer, 16)), longest_(longest) {}

bool line_reader::next(std::string_view& line) {
    for (;;) {
        const char* start = buffer_.get() + begin_;
        const auto held = end_ - begin_;
        if (const void* newline = held ? std::memchr(start, '\n', held) : nullptr) {
            const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
            line = {start, length};
            begin_ += length + 1;
            ++number_;
            return true;
        }
        if (at_end_) {
            if (held == 0) return false;
            line = {start, held};  // a last line without a newline
            begin_ = end_;
            ++number_;
            unterminated_ = true;
            return true;
        }
        if (!refill()) return false;
    }
}

std::int64_t line_reader::count_in_rest(std::string_view marker) {
    std::int64_t count = 0;
    for (;;) {
        if (!buffer_ && !refill()) return count;
        std::string_view text(buffer_.get() + begin_, end_ - begin_);
        std::size_t from = 0;
        for (std::size_t at; (at = text.find(marker, from)) != std::string_view::npos; from = at + marker.size()) ++count;
        begin_ = end_;
        if (at_end_) return count;
        // A marker may straddle the end of the buffered text: keep what could be its start.
        begin_ -= std::min(marker.size() - 1, text.size() - from);
        if (!refill()) return count;
    }
}

bool line_reader::refill() {
    if (!buffer_) {
        buffer_.reset(new (std::nothrow) char[capacity_ + padding]);
        if (!buffer_) return fault("a line too long to hold in memory");
    }
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == capacity_) {  // one line fills the whole buffer: make room for more
        if (end_ > longest_) {
            too_long_ = true;
            return fault("a line longer than the longest a stream may hold");
        }
        if (capacity_ > std::numeric_limits<std::size_t>::max() / 4) return fault("a line too long to hold in memory");
        std::unique_ptr<char[]> larger(new (std::nothrow) char[2 * capacity_ + padding]);
        if (!larger) return fault("a line too long to hold in memory");
        std::memcpy(larger.get(), buffer_.get(), end_);
        buffer_ = std::move(larger);
        capacity_ *= 2;
    }
    const std::size_t wanted = capacity_ - end_;
    std::size_t got = 0;
    const bool failed = !read_into(buffer_.get() + end_, wanted, got);
    end_ += got;
    bytes_ += got;
    // The sentinel, and defined bytes for a 16-byte read that starts at it.
    std::memset(buffer_.get() + end_, '\n', padding);
    if (failed) return fault("a read error");
    if (got < wanted) at_end_ = true;
    return true;
}

// Fills `size` bytes at `to` unless the stream ends first: straight from the file
// descriptor where there is one, else through the stream (a stream in memory, say).
bool line_reader::read_into(char* to, std::size_t size, std::size_t& got) {
    if (fd_ < 0) {
        got = std::fread(to, 1, size, in_);
        return !std::ferror(in_);
    }
    while (got < size) {
        const ssize_t n = ::read(fd_, to + got, size - got);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace bandcut
