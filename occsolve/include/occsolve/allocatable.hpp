// An allocatable array: storage of its own, unallocated until allocated, indices from 1,
// the first index varying fastest in memory (the layout Fortran hosts use).
//
//   allocatable<double, 3> a;       // unallocated, extents 0
//   a.allocate(2, 4, 100);          // 800 zeros
//   a(s, b, k) = 1.0;               // element (s-1) + 2*((b-1) + 4*(k-1)) of a.data()
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace occsolve {

template <class T, int Rank>
class allocatable {
    static_assert(Rank >= 1);

public:
    constexpr allocatable() = default;  // constant-initialised: safe to use from any static initialiser
    allocatable(const allocatable&) = delete;
    allocatable& operator=(const allocatable&) = delete;
    allocatable(allocatable&&) noexcept = default;
    allocatable& operator=(allocatable&&) noexcept = default;

    // Gives the array the extents given (negative counts as 0), all elements zero; any
    // earlier storage is freed first.  Throws std::bad_alloc when memory is short or the
    // element count is beyond what memory can hold.
    template <class... Extent>
    void allocate(Extent... extents) {
        static_assert(sizeof...(Extent) == Rank, "one extent per dimension");
        deallocate();
        std::array<std::int64_t, Rank> e{static_cast<std::int64_t>(extents)...};
        std::int64_t count = 1;
        constexpr auto most = static_cast<std::int64_t>(PTRDIFF_MAX / sizeof(T));
        for (auto& x : e) {
            x = x < 0 ? 0 : x;
            if (x != 0 && count > most / x) throw std::bad_array_new_length();
            count *= x;
        }
        storage_ = std::make_unique<T[]>(static_cast<std::size_t>(count));
        extent_ = e;
        size_ = count;
    }

    void deallocate() noexcept {
        storage_.reset();
        extent_ = {};
        size_ = 0;
    }

    bool allocated() const noexcept { return storage_ != nullptr; }

    // Extent along dimension d, counting from 1; 0 when unallocated.
    std::int64_t extent(int d) const noexcept { return extent_[static_cast<std::size_t>(d - 1)]; }
    std::int64_t size() const noexcept { return size_; }

    // Element (i1, i2, ...), each index from 1.  Not checked against the extents.
    template <class... Index>
    T& operator()(Index... index) noexcept {
        static_assert(sizeof...(Index) == Rank, "one index per dimension");
        return storage_[offset(index...)];
    }
    template <class... Index>
    const T& operator()(Index... index) const noexcept {
        static_assert(sizeof...(Index) == Rank, "one index per dimension");
        return storage_[offset(index...)];
    }

    T* data() noexcept { return storage_.get(); }
    const T* data() const noexcept { return storage_.get(); }

private:
    template <class... Index>
    std::size_t offset(Index... index) const noexcept {
        const std::array<std::int64_t, Rank> i{static_cast<std::int64_t>(index)...};
        std::int64_t at = 0;
        for (int d = Rank - 1; d >= 0; --d) at = at * extent_[static_cast<std::size_t>(d)] + (i[static_cast<std::size_t>(d)] - 1);
        return static_cast<std::size_t>(at);
    }

    std::unique_ptr<T[]> storage_;
    std::array<std::int64_t, Rank> extent_{};
    std::int64_t size_ = 0;
};

}  // namespace occsolve
