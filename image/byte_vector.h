#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// Buffers of at least this size start on a boundary of it and are offered to
// the system as large pages. A decode touches each of its buffers' bytes once,
// and faulting megabytes in 4 KiB at a time costs more than the decoding of a
// large photo, while a 2 MiB page is mapped in one fault.
inline constexpr std::size_t LARGE_PAGE_BYTES = std::size_t{2} << 20;

// Asks, where the system can be asked, that the whole large pages inside
// `bytes` bytes at `start` be backed by large pages. Only a hint: nothing
// changes where it is not taken.
void adviseLargePages(void* start, std::size_t bytes) noexcept;

// Hands out storage like std::allocator, but leaves bytes that a vector grows
// by without a value (resize(n), ByteVector(n)) unset rather than zero: the
// decoders size their buffers first and then write every byte they keep, and
// zero-filling megabytes only to overwrite them cost more than the inflating.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };

    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n < LARGE_PAGE_BYTES / sizeof(T)) return std::allocator<T>::allocate(n);
        // Aligned by hand within a plain block a large page longer, whose
        // address is kept just before the buffer: the spare page is never
        // touched, and a freed block serves the next buffer of its size.
        void* block = ::operator new(n * sizeof(T) + LARGE_PAGE_BYTES);
        const std::uintptr_t start =
            (reinterpret_cast<std::uintptr_t>(block) + LARGE_PAGE_BYTES) & ~(LARGE_PAGE_BYTES - 1);
        reinterpret_cast<void**>(start)[-1] = block;
        adviseLargePages(reinterpret_cast<void*>(start), n * sizeof(T));
        return reinterpret_cast<T*>(start);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n < LARGE_PAGE_BYTES / sizeof(T)) return std::allocator<T>::deallocate(p, n);
        ::operator delete(reinterpret_cast<void**>(p)[-1]);
    }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A growable array of bytes that owns its storage: the decoders' input and
// output. Bytes it grows by without a value are unset until written.
using ByteVector = std::vector<std::uint8_t, UnsetAllocator<std::uint8_t>>;
