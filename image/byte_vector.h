#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

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
