// Text formatted into a large block and handed to the stream whole: printf per value is
// the slow part of writing millions of energies.  Numbers are exactly what printf prints.
// Once a write has failed, nothing more is written (ok() says so, and the caller stops).
#pragma once

#include "convert.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace bandcut {

class block_writer {
public:
    block_writer(std::FILE* out, std::size_t capacity)
        : out_(out), capacity_(std::max<std::size_t>(capacity, 1)), buffer_(new char[capacity_]) {}
    ~block_writer() { flush(); }

    void text(std::string_view s) {
        while (!s.empty()) {
            if (used_ == capacity_) flush();
            const std::size_t n = std::min(s.size(), capacity_ - used_);
            std::memcpy(buffer_.get() + used_, s.data(), n);
            used_ += n;
            s.remove_prefix(n);
        }
    }
    void integer(std::int64_t v) {
        char digits[24];
        text({digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, v).ptr - digits)});
    }
    // printf("%*.*f", width, precision, (double)v)
    void real(float v, int precision = 6, int width = 0) {
        char digits[max_real_chars + 16];
        const auto length = static_cast<std::size_t>(format_real(digits, v, precision) - digits);
        for (auto pad = static_cast<std::size_t>(width); pad > length; --pad) text(" ");
        text({digits, length});
    }
    // "  %f  " of v: written straight into the block where it has room, the millions of
    // grid values needing no copy.  A block too small for any value (tests make them so)
    // takes the piecewise way, which gives the same bytes.
    void grid_value(float v) {
        constexpr std::size_t most = 2 + max_real_chars + 6 + 2;
        if (capacity_ - used_ < most) flush();
        if (capacity_ - used_ < most) {
            text("  ");
            real(v);
            text("  ");
            return;
        }
        char* const start = buffer_.get() + used_;
        std::memcpy(start, "  ", 2);
        char* end = format_real(start + 2, v, 6);
        std::memcpy(end, "  ", 2);
        used_ += static_cast<std::size_t>(end + 2 - start);
    }
    // printf("%e", v).
    void scientific(double v) {
        char digits[32];
        const auto r = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::scientific, 6);
        text({digits, static_cast<std::size_t>(r.ptr - digits)});
    }
    // printf("%f\n", v), straight into the block where it has room.
    void real_line(float v) {
        constexpr std::size_t most = max_real_chars + 6 + 1;
        if (capacity_ - used_ < most) flush();
        if (capacity_ - used_ < most) {
            real(v);
            text("\n");
            return;
        }
        char* const start = buffer_.get() + used_;
        char* const end = format_real(start, v, 6);
        *end = '\n';
        used_ += static_cast<std::size_t>(end + 1 - start);
    }
    bool flush() {
        // Some streams take a failed write whole and only set their error flag.
        if (ok_ && used_ && (std::fwrite(buffer_.get(), 1, used_, out_) != used_ || std::ferror(out_))) ok_ = false;
        used_ = 0;
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    std::FILE* out_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool ok_ = true;
};

}  // namespace bandcut
