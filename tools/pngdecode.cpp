// pngdecode: decodes PNG files (or raw zlib streams) with the game's own
// decoders and prints one result line per input. See usage() for the format.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "image/png_decoder.h"
#include "image/zlib_stream.h"

namespace {

constexpr int EXIT_ALL_DECODED = 0;
constexpr int EXIT_DECODE_FAILED = 1;
constexpr int EXIT_USAGE = 2;

void usage(std::FILE* stream) {
    std::fputs(
        "usage: pngdecode [--zlib] [--out PATH] INPUT...\n"
        "\n"
        "Decodes each INPUT with Kestrivane's own decoder and prints one line:\n"
        "  INPUT: ok WIDTH HEIGHT   a decoded PNG\n"
        "  INPUT: ok LENGTH         with --zlib: a raw zlib stream of LENGTH decoded bytes\n"
        "  INPUT: error CODE        decoding failed with the decoder's code\n"
        "\n"
        "  --zlib      read each INPUT as a raw zlib stream instead of a PNG file\n"
        "  --out PATH  write the RGBA pixels (or the decoded bytes) to PATH;\n"
        "              takes exactly one INPUT\n"
        "\n"
        "Exit status: 0 when every input decoded, 1 when any failed to decode,\n"
        "2 for a usage error or an unreadable file.\n",
        stream);
}

std::optional<ByteVector> readFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    ByteVector bytes;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return std::nullopt;
    return bytes;
}

// Writes the decoded bytes to `path` when one is given; returns the exit status so far.
int writeOutput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (path.empty()) return EXIT_ALL_DECODED;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (file) return EXIT_ALL_DECODED;
    std::fprintf(stderr, "pngdecode: cannot write '%s'\n", path.c_str());
    return EXIT_USAGE;
}

struct Options {
    bool zlib = false;
    std::string out;
    std::vector<std::string> inputs;
};

std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    bool onlyInputs = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyInputs || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.push_back(arg);
        } else if (arg == "--") {
            onlyInputs = true;
        } else if (arg == "--zlib") {
            options.zlib = true;
        } else if (arg == "--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else {
            std::fprintf(stderr, "pngdecode: unknown or incomplete option '%s'\n", arg.c_str());
            return std::nullopt;
        }
    }
    if (options.inputs.empty()) {
        std::fputs("pngdecode: no INPUT given\n", stderr);
        return std::nullopt;
    }
    if (!options.out.empty() && options.inputs.size() != 1) {
        std::fputs("pngdecode: --out takes exactly one INPUT\n", stderr);
        return std::nullopt;
    }
    return options;
}

// Each prints the result line and returns the input's exit status.
int decodeZlib(const std::string& name, const ByteVector& input, const std::string& out) {
    ByteVector decoded;
    const unsigned code = decompressZlibStream(decoded, input);
    if (code != 0) {
        std::printf("%s: error %u\n", name.c_str(), code);
        return EXIT_DECODE_FAILED;
    }
    std::printf("%s: ok %zu\n", name.c_str(), decoded.size());
    return writeOutput(out, decoded.data(), decoded.size());
}

int decodePng(const std::string& name, const ByteVector& input, const std::string& out) {
    ByteVector pixels;
    PngImageInfo info;
    PngDecoder::decode(pixels, input.data(), input.size(), info);
    if (info.error != 0) {
        std::printf("%s: error %u\n", name.c_str(), info.error);
        return EXIT_DECODE_FAILED;
    }
    std::printf("%s: ok %u %u\n", name.c_str(), info.width, info.height);
    return writeOutput(out, pixels.data(), pixels.size());
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return EXIT_ALL_DECODED;
        }
    }
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        usage(stderr);
        return EXIT_USAGE;
    }

    // The worst outcome decides: a usage or file error over a failed decode over success.
    int status = EXIT_ALL_DECODED;
    for (const std::string& name : options->inputs) {
        const std::optional<ByteVector> input = readFile(name);
        int inputStatus = EXIT_USAGE;
        if (!input)
            std::fprintf(stderr, "pngdecode: cannot read '%s'\n", name.c_str());
        else
            inputStatus =
                options->zlib ? decodeZlib(name, *input, options->out) : decodePng(name, *input, options->out);
        status = std::max(status, inputStatus);
    }
    return status;
}
