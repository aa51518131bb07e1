// peer_decode: one of the benchmark's peers as a whole process, as a program
// built on it would decode files: read each in turn, decode it once, print the
// line pngdecode prints, and free it all before the next. `make bench` races it
// against pngdecode on the same inputs (scripts/race-processes).
//
// usage: peer_decode DECODER FILE...
//   DECODER: zlib or libdeflate for raw zlib streams; libpng, spng or stb_image for PNG files

#include <cstdio>

#include "bench/peers.h"

namespace {

// A raw zlib stream's length is not known ahead: as pngdecode does, start
// from four times the input and grow. zlib inflates into a growing buffer;
// libdeflate's one-shot call is tried again with twice the room.
std::size_t inflateWithZlib(const PlainBuffer& stream) {
    PlainBuffer out;
    out.resize(4 * stream.size() + (64 << 10));
    z_stream z{};
    if (inflateInit(&z) != Z_OK) fail("inflateInit failed");
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    int result = Z_OK;
    while (result == Z_OK) {
        if (z.total_out == out.size()) out.resize(2 * out.size());
        z.next_out = out.data() + z.total_out;
        z.avail_out = uInt(out.size() - z.total_out);
        result = inflate(&z, Z_NO_FLUSH);
    }
    const std::size_t size = z.total_out;
    inflateEnd(&z);
    if (result != Z_STREAM_END) fail("zlib: error " + std::to_string(result));
    return size;
}

std::size_t inflateWithLibdeflate(const PlainBuffer& stream) {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    PlainBuffer out;
    out.resize(4 * stream.size() + (64 << 10));
    std::size_t size = 0;
    libdeflate_result result;
    while ((result = libdeflate_zlib_decompress(decompressor, stream.data(), stream.size(), out.data(), out.size(),
                                                &size)) == LIBDEFLATE_INSUFFICIENT_SPACE)
        out.resize(2 * out.size());
    libdeflate_free_decompressor(decompressor);
    if (result != LIBDEFLATE_SUCCESS) fail("libdeflate: error " + std::to_string(int(result)));
    return size;
}

// Reads, decodes and prints one file; everything it made is freed on return.
void decodeFile(const std::string& decoder, const DecoderKind* png, const std::string& path) {
    const PlainBuffer file = readFile<PlainBuffer>(path);
    if (!png) {
        const std::size_t size = decoder == "zlib" ? inflateWithZlib(file) : inflateWithLibdeflate(file);
        std::printf("%s: ok %zu\n", path.c_str(), size);
        return;
    }
    // The header gives the output's size: a buffer made ahead, as any program would.
    const PngSize size = pngSize({file.data(), file.size()}, path);
    const std::size_t bytes = std::size_t{size.width} * size.height * 4;
    const Input input{path, Kind::Png, {}, {bytes}, bytes, bytes, size.height};
    const std::unique_ptr<Decoder> peer = png->make();
    peer->prepare(input);
    if (peer->decode({file.data(), file.size()}).empty()) fail(decoder + ": " + peer->error);
    std::printf("%s: ok %u %u\n", path.c_str(), size.width, size.height);
}

}  // namespace

int main(int argc, char** argv) {
    benchProgram = "peer_decode";
    if (argc < 3) fail("usage: peer_decode DECODER FILE...");
    const std::string decoder = argv[1];
    // Ours races as pngdecode itself.
    const DecoderKind* png = nullptr;
    for (const DecoderKind& kind : DECODERS)
        if (kind.kind == Kind::Png && decoder == kind.name && decoder != "ours") png = &kind;
    if (!png && decoder != "zlib" && decoder != "libdeflate") fail("unknown DECODER '" + decoder + "'");
    for (int i = 2; i < argc; ++i) decodeFile(decoder, png, argv[i]);
    return 0;
}
