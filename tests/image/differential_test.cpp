// The decoders against zlib and libpng on valid inputs, and their fast path
// against their exact path on those inputs and on damaged copies of them:
// system zlib streams, the PNG suite, and the inputs kept in tests/regressions/.
// Damage to a valid stream makes codes of every odd shape, over-subscribed,
// incomplete or long, which the tables must decode as the trees do.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "image/png_scanlines.h"
#include "tests/image/differential.h"
#include "tests/image/libpng_oracle.h"

namespace {

namespace fs = std::filesystem;

std::size_t pick(std::mt19937& rng, std::size_t n) { return n == 0 ? 0 : rng() % n; }

// Segments of text from a few words, random bytes, runs of one byte, and copies
// from up to 32 KiB back, so that every block type and distance range occurs.
ByteVector sampleData(std::size_t size, std::mt19937& rng) {
    static const std::string words[] = {"snake ", "food ", "level ", "the ", "fading ", "grid\n", "sight, "};
    const std::size_t segment = std::clamp<std::size_t>(size / 8, 16, 4000);
    ByteVector data;
    while (data.size() < size) {
        std::size_t n = 1 + pick(rng, segment);
        switch (rng() % 4) {
        case 0:
            for (; n > 0; --n) std::ranges::copy(words[pick(rng, std::size(words))], std::back_inserter(data));
            break;
        case 1: std::generate_n(std::back_inserter(data), n, [&] { return std::uint8_t(rng()); }); break;
        case 2: data.insert(data.end(), n, std::uint8_t(rng())); break;
        default:
            if (data.empty()) break;
            for (const std::size_t distance = 1 + pick(rng, std::min<std::size_t>(data.size(), 32768)); n-- > 0;)
                data.push_back(data[data.size() - distance]);
            break;
        }
    }
    data.resize(size);
    return data;
}

ByteVector readFile(const fs::path& path) {
    return ByteVector(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

// Sorted, so that the seeded mutations fall on the same files every run.
std::vector<fs::path> filesIn(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> files;
    std::ranges::copy_if(fs::directory_iterator(folder), fs::directory_iterator(), std::back_inserter(files),
                         [&](const fs::path& path) { return path.extension() == extension; });
    std::ranges::sort(files);
    return files;
}

// Whether the paths agree; when they do not, fails the test and saves the
// input in the build folder's differential-failures/, wherever the test runs
// from, in the form tests/regressions/ replays: a zlib stream behind two bytes
// that give its room.
bool agree(const std::string& difference, const ByteVector& input, const std::string& name) {
    if (difference.empty()) return true;
    const fs::path saved = fs::path(FAILURES_DIR) / name;
    fs::create_directories(FAILURES_DIR);
    std::ofstream(saved, std::ios::binary).write((const char*)input.data(), input.size());
    ADD_FAILURE() << name << ": " << difference << " (saved as " << saved.string() << ")";
    return false;
}

bool agreeOnPng(const ByteVector& file, const std::string& name) {
    return agree(differential::comparePng(file), file, name + ".png");
}

bool agreeOnZlib(const ByteVector& stream, std::size_t room, const std::string& name) {
    const std::size_t choice = room < 0x4000 ? room : 0;
    ByteVector input = {std::uint8_t(choice), std::uint8_t(choice >> 8)};
    input.insert(input.end(), stream.begin(), stream.end());
    return agree(differential::compareZlib(stream, room), input, name + ".zlib");
}

// One damage: bytes overwritten, a bit flipped, a byte put in or taken out,
// or a cut. Only the inflate stage has two paths, and in a PNG file most
// bytes are its data, so the damage need not aim at the chunks.
ByteVector mutate(ByteVector bytes, std::mt19937& rng) {
    const auto at = bytes.begin() + std::ptrdiff_t(pick(rng, bytes.size()));
    switch (rng() % 5) {
    case 0:
        for (std::size_t n = 1 + pick(rng, 3); n > 0; --n) bytes[pick(rng, bytes.size())] = std::uint8_t(rng());
        break;
    case 1: *at ^= std::uint8_t(1u << (rng() % 8)); break;
    case 2: bytes.insert(at, std::uint8_t(rng())); break;
    case 3: bytes.erase(at); break;
    default: bytes.erase(at, bytes.end()); break;
    }
    return bytes;
}

TEST(Differential, SystemZlibStreamsTheirPrefixesAndMutations) {
    std::mt19937 rng(1950);
    // Every level, every strategy, and windows from 256 bytes up.
    std::vector<std::array<int, 3>> settings;
    for (int level = 0; level <= 9; ++level) settings.push_back({level, Z_DEFAULT_STRATEGY, 15});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) settings.push_back({6, strategy, 15});
    for (int windowBits : {8, 9, 11, 13}) settings.push_back({9, Z_DEFAULT_STRATEGY, windowBits});
    for (const std::size_t size : {0, 1, 37, 300, 300, 2500, 2500, 1 << 20}) {
        const ByteVector data = sampleData(size, rng);
        for (const auto& [level, strategy, windowBits] : settings) {
            const ByteVector stream = compressWithZlib(data, level, strategy, windowBits);
            const std::string name = "zlib-" + std::to_string(size) + "-level" + std::to_string(level) + "-strategy" +
                                     std::to_string(strategy) + "-window" + std::to_string(windowBits);
            SCOPED_TRACE(name);
            // Exact room is used as it is, never reallocated; no room is given some.
            ByteVector exactRoom(size), noRoom;
            const std::uint8_t* before = exactRoom.data();
            ASSERT_EQ(decompressZlibStream(exactRoom, stream), 0u);
            ASSERT_EQ(decompressZlibStream(noRoom, stream), 0u);
            ASSERT_TRUE(exactRoom == data && noRoom == data && (size == 0 || exactRoom.data() == before));
            for (const std::size_t room : {std::size_t{0}, size, size / 2, size + 1, 2 * size + 100})
                if (!agreeOnZlib(stream, room, name)) return;
            // The Adler-32 trailer is never read; cut anywhere before it, the last block is incomplete.
            for (std::size_t n = 0; size <= 300 && n + 4 < stream.size(); ++n) {
                const ByteVector cut(stream.begin(), stream.begin() + std::ptrdiff_t(n));
                EXPECT_NE(decompressZlibStream(noRoom, cut), 0u) << "cut at " << n;
                if (!agreeOnZlib(cut, 0, name + ".cut" + std::to_string(n))) return;
            }
            for (int m = 0; m < (size > 2500 ? 2 : 100); ++m) {
                const ByteVector mutated = mutate(stream, rng);
                const std::size_t room = std::array{std::size_t{0}, size, 4 * mutated.size()}[m % 3];
                if (!agreeOnZlib(mutated, room, name + ".mutation" + std::to_string(m))) return;
            }
        }
    }
}

// Every colour type, depth, filter and interlace, odd sizes, colour keys and
// chunk orders: the PNG suite decodes as libpng decodes it, or fails with its code.
TEST(Differential, PngSuiteDecodesAsLibpngAndItsMutationsAgree) {
    const std::map<std::string, unsigned> failures = {
        {"xc1n0g08", PNG_BAD_COLOR_TYPE},   {"xc9n2c08", PNG_BAD_COLOR_TYPE}, {"xcrn0g04", PNG_BAD_SIGNATURE},
        {"xd0n2c08", PNG_BAD_BIT_DEPTH},    {"xd3n2c08", PNG_BAD_BIT_DEPTH},  {"xd9n2c08", PNG_BAD_BIT_DEPTH},
        {"xdtn0g01", ZLIB_INPUT_TOO_SHORT}, {"xlfn0g04", PNG_BAD_SIGNATURE},  {"xs1n0g01", PNG_BAD_SIGNATURE},
        {"xs2n0g01", PNG_BAD_SIGNATURE},    {"xs4n0g01", PNG_BAD_SIGNATURE},  {"xs7n0g01", PNG_BAD_SIGNATURE}};
    const std::vector<fs::path> files = filesIn(PNGSUITE_DIR, ".png");
    ASSERT_GT(files.size(), 150u);
    std::mt19937 rng(20240611);
    for (const fs::path& path : files) {
        const std::string name = path.stem();
        const ByteVector file = readFile(path);
        SCOPED_TRACE(name);
        ByteVector withScore = file;  // a level's score record behind IEND changes nothing
        withScore.insert(withScore.end(), {0x35, 0x81, 0, 8, 7, 0, 0, 0});
        const differential::Decoded decoded = differential::decodePng(withScore);
        EXPECT_EQ(decoded.code, failures.contains(name) ? failures.at(name) : 0u);
        EXPECT_EQ(decoded.out, decodeWithLibpng(file));  // nothing where libpng refuses the file
        for (int m = 0; m < 300; ++m)
            if (!agreeOnPng(mutate(file, rng), name + ".mutation" + std::to_string(m))) return;
    }
}

// Scanline data of an RGB (3 channels) or RGBA image: rows of sampleData
// behind a filter type of each kind, in Adam7's passes when interlaced.
ByteVector scanlines(std::uint32_t width, std::uint32_t height, std::uint32_t channels, bool interlaced,
                     std::mt19937& rng) {
    ByteVector data;
    const auto rows = [&](std::uint32_t w, std::uint32_t h) {
        for (std::uint32_t r = 0; w != 0 && r < h; ++r) {
            data.push_back(std::uint8_t(rng() % 5));
            const ByteVector row = sampleData(channels * w, rng);
            data.insert(data.end(), row.begin(), row.end());
        }
    };
    if (!interlaced) rows(width, height);
    for (const Adam7Pass& pass : ADAM7_PASSES)
        if (interlaced) rows(pass.width(width), pass.height(height));
    return data;
}

// However the image data is cut into chunks, the paths give the same result:
// cut in two at every byte, in files of stored, fixed and dynamic blocks; and
// cut into many, in images whose rows pass through the decoder's window many
// times over, or are wider than it, which must still give libpng's pixels.
TEST(Differential, ImageDataCutAnywhere) {
    for (const std::string name : {"basn2c08", "basi6a08", "z00n2c08", "z09n2c08", "basi3p02", "oi4n2c16"}) {
        const ByteVector file = readFile(fs::path(PNGSUITE_DIR) / (name + ".png"));
        for (std::size_t k = 0; k < file.size(); ++k)
            if (!agree(differential::comparePng(file, differential::recut(file, k, file.size())), file,
                       name + ".cut" + std::to_string(k)))
                return;
    }
    std::mt19937 rng(2048);
    const struct { std::uint32_t width, height, channels; } sizes[] = {{401, 301, 3}, {30001, 3, 4}};
    for (const auto& size : sizes) {
        for (const int level : {0, 1, 9}) {
            for (const bool interlaced : {false, true}) {
                const std::string name =
                    std::to_string(size.width) + "-level" + std::to_string(level) + (interlaced ? "-interlaced" : "");
                const ByteVector data = scanlines(size.width, size.height, size.channels, interlaced, rng);
                const ByteVector file =
                    assemble({ihdr(size.width, size.height, 8, size.channels == 3 ? 2 : 6, interlaced),
                              {"IDAT", compressWithZlib(data, level)},
                              IEND});
                SCOPED_TRACE(name);
                EXPECT_EQ(differential::decodePng(file).out, decodeWithLibpng(file));
                agree(differential::comparePng(file, differential::recut(file, 8000, 0)), file, name);
            }
        }
    }
}

// What once made the paths differ or crash: whole PNG files, and zlib fuzz inputs.
TEST(Differential, Regressions) {
    for (const fs::path& path : filesIn(REGRESSIONS_DIR, ".png")) agreeOnPng(readFile(path), path.stem().string());
    for (const fs::path& path : filesIn(REGRESSIONS_DIR, ".zlib")) {
        const ByteVector input = readFile(path);
        agree(differential::compareZlibFuzzInput(input.data(), input.size()), input, path.filename().string());
    }
}

}  // namespace
