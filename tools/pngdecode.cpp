// pngdecode: decodes PNG files (or raw zlib streams) with the game's own
// decoders and prints one result line per input. See usage() for the format.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
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
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    ByteVector bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return std::nullopt;
    return bytes;
}

bool writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(file);
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

// Prints the result line; returns whether the input decoded.
bool decodeZlib(const std::string& name, const ByteVector& input, const std::string& out) {
    ByteVector decoded;
    const unsigned code = decompressZlibStream(decoded, input);
    if (code != 0) {
        std::printf("%s: error %u\n", name.c_str(), code);
        return false;
    }
    std::printf("%s: ok %zu\n", name.c_str(), decoded.size());
    return out.empty() || writeFile(out, decoded.data(), decoded.size());
}

bool decodePng(const std::string& name, const ByteVector& input, const std::string& out) {
    std::uint8_t* raw = nullptr;
    PngImageInfo info;
    PngDecoder::decode(raw, input.data(), input.size(), info);
    const std::unique_ptr<std::uint8_t[]> pixels(raw);
    if (info.error != 0) {
        std::printf("%s: error %u\n", name.c_str(), info.error);
        return false;
    }
    std::printf("%s: ok %u %u\n", name.c_str(), info.width, info.height);
    return out.empty() || writeFile(out, pixels.get(), std::size_t{info.width} * info.height * 4);
}

} // namespace

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

    int status = EXIT_ALL_DECODED;
    for (const std::string& name : options->inputs) {
        const std::optional<ByteVector> input = readFile(name);
        if (!input) {
            std::fprintf(stderr, "pngdecode: cannot read '%s'\n", name.c_str());
            status = EXIT_USAGE;
            continue;
        }
        const bool decoded = options->zlib ? decodeZlib(name, *input, options->out)
                                           : decodePng(name, *input, options->out);
        if (!decoded && status == EXIT_ALL_DECODED) status = EXIT_DECODE_FAILED;
    }
    return status;
}
