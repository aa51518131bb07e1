// pngdecode: decodes PNG files (or raw zlib streams) with the game's own
// decoders and prints one result line per input. See usage() for the format.

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "files/file.h"
#include "image/png_decoder.h"
#include "image/zlib_stream.h"
#include "tools/command_line.h"
#include "tools/output_file.h"

namespace {

constexpr int EXIT_ALL_DECODED = 0;
constexpr int EXIT_DECODE_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// Room for the largest image the decoder takes, even stored without compression.
constexpr std::size_t MAX_INPUT_BYTES = 2 * MAX_IMAGE_BYTES;
// A raw zlib stream says nothing of its length: past this it is called too large.
constexpr std::size_t MAX_ZLIB_OUTPUT = MAX_IMAGE_BYTES;

void usage(std::FILE* stream) {
    std::fputs(
        "usage: pngdecode [--zlib] [--out PATH] [--] INPUT...\n"
        "       pngdecode --help | --version\n"
        "\n"
        "Decodes each INPUT with Kestrivane's own decoder and prints one line:\n"
        "  INPUT: ok WIDTH HEIGHT   a decoded PNG\n"
        "  INPUT: ok LENGTH         with --zlib: a raw zlib stream of LENGTH decoded bytes\n"
        "  INPUT: error CODE        decoding failed with the decoder's code\n"
        "  INPUT: too large         with --zlib: the stream decodes to more than 1 GiB\n"
        "\n"
        "  --zlib      read each INPUT as a raw zlib stream instead of a PNG file\n"
        "  --out PATH  write the RGBA pixels (or the decoded bytes) to PATH, which\n"
        "              must not be the INPUT; takes exactly one INPUT\n"
        "\n"
        "Each INPUT must be a regular file (a link to one is followed). Control\n"
        "characters in its name are printed escaped, C style.\n"
        "\n"
        "Exit status: 0 when every input decoded, 1 when any failed to decode,\n"
        "2 for a usage error, an unreadable file or an output that could not be written.\n",
        stream);
}

// Writes the decoded bytes to `path` when one is given, then prints the
// input's "ok" line; returns the exit status so far. No line is printed for
// an output that was not written.
int writeOutput(const std::optional<std::string>& path, const std::uint8_t* data, std::size_t size,
                const std::string& okLine) {
    if (path) {
        if (const char* failure = writeOutputFile(*path, data, size)) {
            std::fprintf(stderr, "pngdecode: cannot write '%s': %s\n", printableName(*path).c_str(), failure);
            return EXIT_USAGE;
        }
    }
    std::printf("%s\n", okLine.c_str());
    return EXIT_ALL_DECODED;
}

struct Options {
    bool zlib = false;
    bool help = false;
    bool version = false;
    std::optional<std::string> out;
    std::vector<std::string> inputs;
};

// The options as given, or none after saying what is wrong with them.
std::optional<Options> parseArguments(int argc, char** argv) {
    Options options;
    bool onlyInputs = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyInputs || !isOption(arg)) {
            options.inputs.push_back(arg);
        } else if (arg == "--") {
            onlyInputs = true;
        } else if (isHelp(arg)) {
            options.help = true;
            return options;
        } else if (isVersion(arg)) {
            options.version = true;
            return options;
        } else if (arg == "--zlib") {
            options.zlib = true;
        } else if (arg == "--out" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.out = argv[++i];
        } else {
            std::fprintf(stderr, "pngdecode: unknown or incomplete option '%s'\n", printableName(arg).c_str());
            return std::nullopt;
        }
    }
    if (options.inputs.empty()) {
        std::fputs("pngdecode: no INPUT given\n", stderr);
        return std::nullopt;
    }
    if (options.out && options.inputs.size() != 1) {
        std::fputs("pngdecode: --out takes exactly one INPUT\n", stderr);
        return std::nullopt;
    }
    return options;
}

// Each prints the result line and returns the input's exit status.
// `decoded` is kept from one INPUT to the next, as the input's bytes are: a
// later stream of a like size then finds its memory mapped in already.
int decodeZlib(const std::string& name, const ByteVector& input, ByteVector& decoded,
               const std::optional<std::string>& out) {
    const unsigned code = decompressZlibStream(decoded, input, MAX_ZLIB_OUTPUT + 1);
    if (code != 0) {
        std::printf("%s: error %u\n", name.c_str(), code);
        return EXIT_DECODE_FAILED;
    }
    if (decoded.size() > MAX_ZLIB_OUTPUT) {
        std::printf("%s: too large\n", name.c_str());
        return EXIT_DECODE_FAILED;
    }
    return writeOutput(out, decoded.data(), decoded.size(), name + ": ok " + std::to_string(decoded.size()));
}

int decodePng(const std::string& name, const ByteVector& input, const std::optional<std::string>& out) {
    ByteVector pixels;
    PngImageInfo info;
    PngDecoder::decode(pixels, input.data(), input.size(), info);
    if (info.error != 0) {
        std::printf("%s: error %u\n", name.c_str(), info.error);
        return EXIT_DECODE_FAILED;
    }
    return writeOutput(out, pixels.data(), pixels.size(),
                       name + ": ok " + std::to_string(info.width) + " " + std::to_string(info.height));
}

}  // namespace

int main(int argc, char** argv) {
    // No file opened here may take a closed descriptor's number; writes to a
    // closed standard output still fail, for exit status 2.
    platform::fillClosedStandardDescriptors(platform::ClosedOutput::REFUSES);
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        usage(stderr);
        return EXIT_USAGE;
    }
    if (options->help) {
        usage(stdout);
        return checkedExit("pngdecode", EXIT_ALL_DECODED);
    }
    if (options->version) {
        printVersion("pngdecode");
        return checkedExit("pngdecode", EXIT_ALL_DECODED);
    }
    if (options->out && platform::sameFile(*options->out, options->inputs[0])) {
        std::fprintf(stderr, "pngdecode: --out '%s' is the INPUT itself\n", printableName(*options->out).c_str());
        return EXIT_USAGE;
    }

    // The worst outcome decides: a usage or file error over a failed decode over success.
    int status = EXIT_ALL_DECODED;
    ByteVector inputBytes, decoded;  // kept from one INPUT to the next
    for (const std::string& path : options->inputs) {
        const std::string name = printableName(path);
        FileContents input = readRegularFile(path, MAX_INPUT_BYTES, std::move(inputBytes));
        int inputStatus = EXIT_USAGE;
        if (input.failure != ReadFailure::NONE)
            std::fprintf(stderr, "pngdecode: cannot read '%s': %s\n", name.c_str(), describe(input.failure));
        else
            inputStatus = options->zlib ? decodeZlib(name, input.bytes, decoded, options->out)
                                        : decodePng(name, input.bytes, options->out);
        inputBytes = std::move(input.bytes);
        status = std::max(status, inputStatus);
    }
    return checkedExit("pngdecode", status);
}
