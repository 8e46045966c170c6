#include "listing.hpp"

#include "band_line.hpp"
#include "convert.hpp"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

namespace bandcut {

namespace {

// Hands out the lines of a stream, each whole whatever its length (real listings hold
// lines of hundreds of kilobytes of NUL bytes), reading the stream in large blocks.  The
// buffered text is always followed by a '\n' and some padding, so that a caller may
// scan a line up to its newline, eight bytes at a time, without testing for the end of
// the buffer.  A line longer than the buffer makes it grow, doubling, so that a line
// costs at most about twice its length in memory; nothing is cleared that is about to
// be overwritten.
class line_reader {
public:
    line_reader(std::FILE* in, std::size_t buffer)
        : in_(in), fd_(fileno(in)), capacity_(std::max<std::size_t>(buffer, 16)) {}

    // The next line without its newline, valid until the next call; false at the end of
    // the stream or when the stream fails (then `trouble()` says why).
    bool next(std::string_view& line) {
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
    std::int64_t count_in_rest(std::string_view marker) {
        std::int64_t count = 0;
        for (;;) {
            std::string_view text(buffer_.get() + begin_, end_ - begin_);
            std::size_t from = 0;
            for (std::size_t at; (at = text.find(marker, from)) != std::string_view::npos; from = at + marker.size())
                ++count;
            begin_ = end_;
            if (at_end_) return count;
            // A marker may straddle the end of the buffered text: keep what could be its start.
            begin_ -= std::min(marker.size() - 1, text.size() - from);
            if (!refill()) return count;
        }
    }

    long number() const { return number_; }
    const char* trouble() const { return trouble_; }

private:
    bool refill() {
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
        // The sentinel, and defined bytes for an 8-byte read that starts at it.
        std::memset(buffer_.get() + end_, '\n', padding);
        if (failed) return fault("a read error");
        if (got < wanted) at_end_ = true;
        return true;
    }

    // Fills `size` bytes at `to` unless the stream ends first.  Straight from the file
    // descriptor where there is one (the buffer, small enough to stay in the processor's
    // second-level cache, is where the kernel copies to), else through the stream.
    bool read_into(char* to, std::size_t size, std::size_t& got) {
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

    bool fault(const char* why) {
        trouble_ = why;
        return false;
    }

    std::FILE* in_;
    int fd_;
    std::size_t capacity_;
    static constexpr std::size_t padding = 32;  // the sentinel and what reads of up to 16 bytes past it touch
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
    bool unterminated_ = false;
    long number_ = 0;
    const char* trouble_ = nullptr;
};

}  // namespace

void* allocate_table(std::size_t bytes) noexcept {
    constexpr std::size_t huge = std::size_t{2} << 20;  // the processor's large page
    if (bytes < huge) return std::malloc(bytes ? bytes : 1);
    const std::size_t rounded = (bytes + huge - 1) / huge * huge;
    void* p = std::aligned_alloc(huge, rounded);
#ifdef MADV_HUGEPAGE
    // Advice only: where the system has no huge pages to give, the table is in small ones.
    if (p) madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return p;
}

namespace {

// A table of `limit` entries that is given memory as the listing fills it, up to what the
// listing can hold: the counts a listing claims never make bandcut take more memory than
// its file could fill (each band line takes at least four bytes: "1 1" and a newline).
template <class T>
class growing_table {
public:
    // `first`: the entries to make room for at once.
    growing_table(std::size_t limit, std::size_t first) : limit_(limit), first_(std::min(first, limit)) {}

    // Room for `n` entries (n <= limit); null when memory is short.
    T* room(std::size_t n) {
        if (n <= capacity_) return data_.get();
        const std::size_t grown = std::min(limit_, std::max({n, first_, 2 * capacity_}));
        table_ptr<T> larger = make_table<T>(grown);
        if (!larger) return nullptr;
        if (capacity_) std::memcpy(larger.get(), data_.get(), capacity_ * sizeof(T));
        data_ = std::move(larger);
        capacity_ = grown;
        return data_.get();
    }
    table_ptr<T> release() { return std::move(data_); }

private:
    std::size_t limit_, first_, capacity_ = 0;
    table_ptr<T> data_;
};

// The bytes a regular file holds, or a default for a stream whose size cannot be known.
std::size_t stream_size(std::FILE* in) {
    struct stat st {};
    const int fd = fileno(in);
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0)
        return static_cast<std::size_t>(st.st_size);
    return std::size_t{64} << 20;
}

bool contains(std::string_view line, std::string_view marker) {
    return line.find(marker) != std::string_view::npos;
}

bool is_blank_line(std::string_view line) {
    for (char c : line)
        if (!is_blank(c)) return false;
    return true;
}

// The text of a line as the C string functions see it: up to its first NUL byte.
std::string_view c_text(std::string_view line) {
    const void* nul = std::memchr(line.data(), '\0', line.size());
    return nul ? line.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()))
               : line;
}

// A k-point header: " k-point     1 :       0.0000    0.0000    0.0000".  Either its first
// token begins with "k-point" (older listings run numbers from 1000 on into the word),
// or it converts as three tokens followed by three reals.
bool is_kpoint_header(std::string_view line) {
    line_scanner words(line);
    std::string_view word;
    if (!words.token(word)) return false;
    if (word.starts_with("k-point")) return true;
    line_scanner fields(line);
    float c = 0;
    return fields.token(word) && fields.token(word) && fields.token(word) && fields.real(c) &&
           fields.real(c) && fields.real(c);
}

// The coordinates of a header are the three reals after its colon, or, in a header
// without a colon, the three reals after its first three tokens.
vec3 kpoint_coordinates(std::string_view line) {
    const auto nan = std::numeric_limits<float>::quiet_NaN();
    vec3 c{nan, nan, nan};
    line = c_text(line);
    const auto colon = line.find(':');
    line_scanner fields(colon == std::string_view::npos ? line : line.substr(colon + 1));
    std::string_view word;
    if (colon == std::string_view::npos && !(fields.token(word) && fields.token(word) && fields.token(word)))
        return c;
    vec3 read{};
    if (fields.real(read[0]) && fields.real(read[1]) && fields.real(read[2])) c = read;
    return c;
}

// A count of the dimension line: the integer that is the `position`-th token (the
// listing's historic layout, "... NKPTS = 4 ... NBANDS= 8" with blanks as the format
// expects), or else the integer after `keyword` (current layout, where the band count
// is no longer the ninth token).
std::optional<std::int64_t> dimension_count(std::string_view line, int position, std::string_view keyword) {
    line_scanner fields(line);
    std::string_view word;
    std::int64_t value = 0;
    int skipped = 0;
    while (skipped < position - 1 && fields.token(word)) ++skipped;
    if (skipped == position - 1 && fields.integer(value)) return value;

    const auto at = line.find(keyword);
    if (at == std::string_view::npos) return std::nullopt;
    line_scanner after(line.substr(at + keyword.size()));
    after.skip_equals();
    if (after.integer(value)) return value;
    return std::nullopt;
}

class reader {
public:
    reader(std::FILE* in, std::FILE* echo, listing& out, const read_options& options)
        : lines_(in, options.buffer), echo_(echo), out_(out), file_size_(stream_size(in)) {}

    std::optional<read_failure> run(float ef) {
        if (auto failure = dimensions()) return failure;
        if (auto failure = lattice()) return failure;
        if (!scan_for("E-fermi")) return missing("E-fermi");
        out_.mesh = sections_.sections();
        say("Ef: %f\n", static_cast<double>(ef));
        if (auto failure = eigenvalues()) return failure;
        if (out_.nspin == 2)
            say("spin component 2: bands %lld to %lld\n", static_cast<long long>(out_.nbands) + 1,
                2 * static_cast<long long>(out_.nbands));
        // Relaxation and molecular-dynamics runs print the band energies again after
        // every ionic step, each set opened by its own "E-fermi" line.
        out_.sets = 1 + contains(line_, "E-fermi");  // the line after the first set
        out_.sets += lines_.count_in_rest("E-fermi");
        if (lines_.trouble()) return fail(lines_.trouble());
        return std::nullopt;
    }

private:
    template <class... Args>
    void say(const char* format, Args... args) {
        if (echo_) std::fprintf(echo_, format, args...);
    }

    read_failure fail(std::string what) const { return {lines_.number(), std::move(what)}; }

    read_failure missing(std::string_view marker) const {
        if (lines_.trouble()) return fail(lines_.trouble());
        return fail("no line holding \"" + std::string(marker) + "\"");
    }

    // The next line; an empty one once the listing has ended.
    bool next(std::string_view& line) {
        if (lines_.next(line)) return true;
        line = {};
        return false;
    }

    // Reads up to and including the first line that holds `marker`, showing every line
    // to the reader of the symmetry and k-mesh sections.
    bool scan_for(std::string_view marker) {
        while (next(line_)) {
            sections_.see(line_);
            if (contains(line_, marker)) return true;
        }
        return false;
    }

    std::optional<read_failure> ended(const std::string& where) const {
        if (lines_.trouble()) return fail(lines_.trouble());
        return fail("the listing ends " + where);
    }

    std::optional<read_failure> dimensions() {
        if (!scan_for("NKPTS")) return missing("NKPTS");
        sections_.dimension_line_seen();
        const auto text = c_text(line_);
        if (echo_) {
            std::fputs("str=", echo_);
            std::fwrite(text.data(), 1, text.size(), echo_);
            std::fputc('\n', echo_);
        }
        const auto nkpts = dimension_count(text, 4, "NKPTS");
        if (!nkpts) return fail("no k-point count after \"NKPTS\"");
        const auto nbands = dimension_count(text, 9, "NBANDS");
        if (!nbands) return fail("no band count after \"NBANDS\"");

        constexpr std::int64_t most = std::numeric_limits<std::int32_t>::max();
        if (*nkpts < 0 || *nbands < 0 || *nkpts > most || *nbands > most)
            return fail("impossible counts NKPTS " + std::to_string(*nkpts) + " and NBANDS " +
                        std::to_string(*nbands));
        out_.nkpts = static_cast<std::int32_t>(*nkpts);
        out_.nbands = static_cast<std::int32_t>(*nbands);
        out_.counts_line = lines_.number();
        say("NKPTS: %d, NBANDS: %d\n", out_.nkpts, out_.nbands);
        return std::nullopt;
    }

    std::string too_large() const {
        return "not enough memory for " + std::to_string(out_.nkpts) + " k-points of " +
               std::to_string(out_.nbands) + " bands";
    }

    std::optional<read_failure> lattice() {
        if (!scan_for("reciprocal lattice vectors")) return missing("reciprocal lattice vectors");
        for (std::size_t i = 0; i < 3; ++i) {
            if (!next(line_)) return ended("inside the lattice vectors");
            sections_.see(line_);
            line_scanner fields(line_);
            auto& a = out_.direct[i];
            auto& b = out_.reciprocal[i];
            if (!(fields.real(a[0]) && fields.real(a[1]) && fields.real(a[2]) && fields.real(b[0]) &&
                  fields.real(b[1]) && fields.real(b[2])))
                return fail("lattice vector line without six numbers");
        }
        for (std::size_t i = 0; i < 3; ++i) echo_vector('A', i, out_.direct[i]);
        for (std::size_t i = 0; i < 3; ++i) echo_vector('B', i, out_.reciprocal[i]);
        return std::nullopt;
    }

    void echo_vector(char letter, std::size_t i, const vec3& v) {
        say("%c%d: %f %f %f \n", letter, static_cast<int>(i + 1), static_cast<double>(v[0]), static_cast<double>(v[1]),
            static_cast<double>(v[2]));
    }

    // The eigenvalue blocks.  A header is expected on the third line after the "E-fermi"
    // line and on the line after each block's separator; current listings put more lines
    // there ("Fermi energy:", band-gap lines, " spin component 1"), so lines are skipped
    // until a header when none stands where it is expected.
    std::optional<read_failure> eigenvalues() {
        for (int discarded = 0; discarded < 2; ++discarded)
            if (!next(line_)) return ended("before its first k-point block");
        if (auto failure = blocks(0)) return failure;

        // A second spin component follows the first set after blank lines (or in place
        // of the last separator): " spin component 2".  The run's ISPIN says whether one
        // must; listings that do not print it are taken at their word.
        const int ispin = sections_.sections().ispin;
        if (ispin == 1) return std::nullopt;
        bool second = contains(line_, "spin component 2");
        while (!second && next(line_) && is_blank_line(line_)) {
        }
        if (second || contains(line_, "spin component 2")) {
            out_.nspin = 2;
            if (auto failure = blocks(1)) return failure;
        } else if (ispin == 2) {
            if (lines_.trouble()) return fail(lines_.trouble());
            return fail(line_.empty() && !lines_.unterminated()
                            ? "the listing ends before spin component 2 (ISPIN = 2)"
                            : "spin component 2 should begin here (ISPIN = 2)");
        }
        if (lines_.trouble()) return fail(lines_.trouble());
        return std::nullopt;
    }

    std::optional<read_failure> blocks(int spin) {
        const auto nbands = static_cast<std::size_t>(out_.nbands);
        const auto nkpts = static_cast<std::size_t>(out_.nkpts);
        // Room for as many values as the file's bytes can hold (each band line takes at
        // least four), growing as it fills: a count that a short listing merely claims
        // takes no memory.
        growing_table<float> table(nkpts * nbands, file_size_ / 4);
        growing_table<vec3> coordinates(nkpts, file_size_ / 16);
        const auto block = [&](std::size_t k) {
            return "k-point block " + std::to_string(k + 1) + " of " + std::to_string(out_.nkpts) +
                   (spin ? " of spin component 2" : "");
        };
        const auto cut = [&](std::size_t k) { return lines_.unterminated() ? ended("inside " + block(k)) : std::nullopt; };
        for (std::size_t k = 0; k < nkpts; ++k) {
            bool header = next(line_) && is_kpoint_header(line_);
            while (!header && next(line_)) header = is_kpoint_header(line_);
            if (!header) return ended("before " + block(k));
            if (auto failure = cut(k)) return failure;
            if (spin == 0) {
                vec3* c = coordinates.room(k + 1);
                if (!c) return fail(too_large());
                c[k] = kpoint_coordinates(line_);
            }
            if (!next(line_)) return ended("inside " + block(k));  // column heads
            if (auto failure = cut(k)) return failure;
            float* row = table.room((k + 1) * nbands);
            if (!row && nbands > 0) return fail(too_large());
            row += k * nbands;
            for (std::size_t b = 0; b < nbands; ++b) {
                // Lines of the usual shape, read in place as far as the buffer holds them;
                // then one line the exact way, which teaches the shape anew.
                std::size_t held = 0;
                const char* const ahead = lines_.peek(held);
                const std::size_t taken = fast_band_lines(ahead, held, shape_, row + b, nbands - b);
                lines_.skip(taken, taken * (shape_.length + 1));
                b += taken;
                if (b == nbands) break;
                if (!next(line_)) return ended("inside " + block(k));
                if (!band_energy(line_.data(), line_.data() + line_.size(), row[b]))
                    return fail("band line without an energy");
                if (auto failure = cut(k)) return failure;
                shape_ = learn_band_shape(line_, row[b]);
            }
            // The separator; a listing may end before it, but not inside it.
            if (next(line_)) {
                if (auto failure = cut(k)) return failure;
            }
        }
        out_.eband[static_cast<std::size_t>(spin)] = table.release();
        if (spin == 0) out_.kpoint = coordinates.release();
        return std::nullopt;
    }

    line_reader lines_;
    std::FILE* echo_;
    listing& out_;
    std::size_t file_size_;
    band_shape shape_;
    std::string_view line_;
    section_reader sections_;
};

}  // namespace

std::optional<read_failure> read_listing(std::FILE* in, float ef, std::FILE* echo, listing& out,
                                         const read_options& options) {
    return reader(in, echo, out, options).run(ef);
}

}  // namespace bandcut
