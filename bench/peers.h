#pragma once

// The decoders that the benchmarks race, ours and the peers, behind one
// interface, and the inputs they race on. The peers are here to give our
// numbers a scale; the game never links them. Included once per program.

#include <libdeflate.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "image/png_decoder.h"
#include "image/zlib_stream.h"

namespace {

// The program that says what failed.
const char* benchProgram = "decode_bench";

using Bytes = std::span<const std::uint8_t>;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", benchProgram, message.c_str());
    std::exit(1);
}

enum class Kind { Zlib, Png };

struct Input {
    std::string name;
    Kind kind;
    std::vector<ByteVector> files;  // level-sized images come several to an input
    std::vector<std::size_t> outputSizes;
    std::size_t outputBytes = 0;  // one iteration's decoded bytes, over all files
    std::size_t largestOutput = 0;
    std::uint32_t largestHeight = 0;
};

// A buffer as a program built on a peer makes one: plain new[], its bytes
// unset. The peers do not get ByteVector's large pages, which are our own
// decoder's doing; in a whole-process race they would hand them our gain.
class PlainBuffer {
public:
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    // Keeps the bytes that fit.
    void resize(std::size_t size) {
        std::unique_ptr<std::uint8_t[]> bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
        if (size_ != 0) std::memcpy(bytes.get(), bytes_.get(), std::min(size, size_));
        bytes_ = std::move(bytes);
        size_ = size;
    }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
};

// The whole file in one read, as a program that knows its size reads it.
template <class Buffer = ByteVector>
Buffer readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) fail("cannot read " + path + "; run scripts/make-bench-inputs on the inputs folder first");
    Buffer bytes;
    bytes.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        fail("cannot read " + path);
    return bytes;
}

struct PngSize {
    std::uint32_t width, height;
};

// From the header, which decoding will check.
PngSize pngSize(Bytes file, const std::string& name) {
    if (file.size() < 29) fail(name + " is too short for a PNG file");
    auto be32 = [&](std::size_t at) {
        return std::uint32_t(file[at]) << 24 | std::uint32_t(file[at + 1]) << 16 | std::uint32_t(file[at + 2]) << 8 |
               file[at + 3];
    };
    return {be32(16), be32(20)};
}

// One decoder behind one interface. prepare() does, outside the timed loop,
// the allocations that the decoder's API lets the caller make ahead; decode()
// returns the decoded bytes, valid until the next call, or an empty span with
// `error` set.
class Decoder {
public:
    virtual ~Decoder() = default;
    virtual void prepare(const Input&) {}
    virtual Bytes decode(Bytes file) = 0;
    std::string error;
};

// A peer that writes into a buffer of the caller's, made once for the largest file.
class IntoBuffer : public Decoder {
public:
    void prepare(const Input& input) override { out_.resize(input.largestOutput); }

protected:
    PlainBuffer out_;
};

class OwnInflate : public Decoder {
    ByteVector out_;

public:
    void prepare(const Input& input) override { out_.resize(input.largestOutput); }
    Bytes decode(Bytes stream) override {
        if (unsigned code = decompressZlibStream(out_, stream)) {
            error = "error " + std::to_string(code);
            return {};
        }
        return out_;
    }
};

class ZlibInflate : public IntoBuffer {
public:
    Bytes decode(Bytes stream) override {
        uLongf size = uLongf(out_.size());
        if (int result = uncompress(out_.data(), &size, stream.data(), uLong(stream.size())); result != Z_OK) {
            error = "error " + std::to_string(result);
            return {};
        }
        return {out_.data(), size};
    }
};

class LibdeflateInflate : public IntoBuffer {
    libdeflate_decompressor* decompressor_ = libdeflate_alloc_decompressor();

public:
    ~LibdeflateInflate() override { libdeflate_free_decompressor(decompressor_); }
    Bytes decode(Bytes stream) override {
        std::size_t size = 0;
        libdeflate_result result =
            libdeflate_zlib_decompress(decompressor_, stream.data(), stream.size(), out_.data(), out_.size(), &size);
        if (result != LIBDEFLATE_SUCCESS) {
            error = "error " + std::to_string(int(result));
            return {};
        }
        return {out_.data(), size};
    }
};

// Into a buffer kept from one decode to the next, as the peers that write
// into ours are given one.
class OwnPng : public Decoder {
    ByteVector pixels_;

public:
    Bytes decode(Bytes file) override {
        PngImageInfo info;
        PngDecoder::decode(pixels_, file.data(), file.size(), info);
        if (info.error) {
            error = "error " + std::to_string(info.error);
            return {};
        }
        return {pixels_.data(), pixels_.size()};
    }
};

// libpng through its row interface, with the transforms that give our output:
// palette and low depths expanded, tRNS turned into alpha, 16-bit samples cut
// to their high byte, grey spread to RGB, opaque alpha added where none is.
// Its simplified API is not used: it takes a 16-bit file without gAMA for
// linear light and converts it to sRGB, which is other work and other bytes.
class LibpngDecode : public IntoBuffer {
    std::vector<png_bytep> rows_;

    struct Reader {
        const std::uint8_t* next;
        std::size_t left;
    };

    static void read(png_structp png, png_bytep data, png_size_t size) {
        auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
        if (size > reader->left) png_error(png, "read past the end of the file");
        std::memcpy(data, reader->next, size);
        reader->next += size;
        reader->left -= size;
    }

    // No C++ objects are made between setjmp and the end of this function, so a longjmp skips no destructor.
    bool decodeRows(Bytes file, std::size_t& size) {
        Reader reader{file.data(), file.size()};
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        bool ok = false;
        if (setjmp(png_jmpbuf(png)) == 0) {
            png_set_read_fn(png, &reader, read);
            png_read_info(png, info);
            png_set_expand(png);
            png_set_strip_16(png);
            png_set_gray_to_rgb(png);
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
            png_set_interlace_handling(png);
            png_read_update_info(png, info);
            const std::size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
            size = width * height * 4;
            if (size <= out_.size() && height <= rows_.size()) {
                for (std::size_t y = 0; y < height; ++y) rows_[y] = out_.data() + y * width * 4;
                png_read_image(png, rows_.data());
                png_read_end(png, nullptr);
                ok = true;
            }
        }
        png_destroy_read_struct(&png, &info, nullptr);
        return ok;
    }

public:
    void prepare(const Input& input) override {
        IntoBuffer::prepare(input);
        rows_.resize(input.largestHeight);
    }
    Bytes decode(Bytes file) override {
        std::size_t size = 0;
        if (!decodeRows(file, size)) {
            error = "libpng refused the file";
            return {};
        }
        return {out_.data(), size};
    }
};

class SpngDecode : public IntoBuffer {
public:
    Bytes decode(Bytes file) override {
        spng_ctx* ctx = spng_ctx_new(0);
        std::size_t size = 0;
        int result = spng_set_png_buffer(ctx, file.data(), file.size());
        if (result == 0) result = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
        if (result == 0 && size > out_.size()) result = SPNG_EOVERFLOW;
        // SPNG_DECODE_TRNS: a tRNS chunk becomes alpha, as in ours.
        if (result == 0) result = spng_decode_image(ctx, out_.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
        spng_ctx_free(ctx);
        if (result != 0) {
            error = spng_strerror(result);
            return {};
        }
        return {out_.data(), size};
    }
};

class StbDecode : public Decoder {
    std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> pixels_{nullptr, stbi_image_free};

public:
    Bytes decode(Bytes file) override {
        pixels_.reset();
        int width = 0, height = 0, channels = 0;
        pixels_.reset(stbi_load_from_memory(file.data(), int(file.size()), &width, &height, &channels, 4));
        if (!pixels_) {
            error = stbi_failure_reason();
            return {};
        }
        return {pixels_.get(), std::size_t(width) * std::size_t(height) * 4};
    }
};

struct DecoderKind {
    const char* name;
    Kind kind;
    std::unique_ptr<Decoder> (*make)();
};

template <class T>
std::unique_ptr<Decoder> make() {
    return std::make_unique<T>();
}

// Ours comes first in each group: the others are compared with it.
const DecoderKind DECODERS[] = {
    {"ours", Kind::Zlib, make<OwnInflate>},
    {"zlib", Kind::Zlib, make<ZlibInflate>},
    {"libdeflate", Kind::Zlib, make<LibdeflateInflate>},
    {"ours", Kind::Png, make<OwnPng>},
    {"libpng", Kind::Png, make<LibpngDecode>},
    {"spng", Kind::Png, make<SpngDecode>},
    {"stb_image", Kind::Png, make<StbDecode>},
};

// "zlib/level6/ours": how the benchmarks are registered, and found again for the table.

}  // namespace
