// The fast decoders against the plain reference on valid and damaged inputs:
// the PNG suite, system zlib streams and libpng images, each with prefixes or
// seeded mutations, and the inputs kept in tests/regressions/.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/image/bit_writer.h"
#include "tests/image/differential.h"
#include "tests/image/libpng_oracle.h"
#include "tests/image/zlib_oracle.h"

namespace {

namespace fs = std::filesystem;

ByteVector readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Sorted, so that the seeded mutations fall on the same files every run.
std::vector<fs::path> filesIn(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> files;
    if (fs::is_directory(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == extension) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::size_t pick(std::mt19937& rng, std::size_t n) { return n == 0 ? 0 : rng() % n; }

// Through an exact copy, so that the sanitizer sees any read past the end.
std::string comparePng(const ByteVector& file) {
    const ByteVector exact(file);
    return differential::comparePng(exact.data(), exact.size());
}

// Fails the test for an input on which the decoders differ, and keeps the input
// in differential-failures/ (beside the test binary's working folder) in the
// form tests/regressions/ replays. A handful is enough to start from.
class Differences {
public:
    // False once the test has seen enough differences to stop.
    bool check(const std::string& difference, const ByteVector& input, const std::string& name) {
        if (difference.empty()) return true;
        fs::create_directories("differential-failures");
        const fs::path saved = fs::absolute("differential-failures") / name;
        std::ofstream(saved, std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
        ADD_FAILURE() << name << ": " << difference << "\n  input saved as " << saved.string();
        return ++count_ < 5;
    }

private:
    int count_ = 0;
};

// A zlib stream as the zlib fuzz target and the regression replay take it,
// with the room it was compared at when the two leading bytes can give it.
ByteVector asZlibInput(const ByteVector& stream, std::size_t room = 0) {
    const std::size_t choice = room < 0x4000 ? room : 0;
    ByteVector input(2 + stream.size(), 0);
    input[0] = std::uint8_t(choice);
    input[1] = std::uint8_t(choice >> 8);
    std::copy(stream.begin(), stream.end(), input.begin() + 2);
    return input;
}

std::uint32_t readU32(const ByteVector& file, std::size_t p) {
    return std::uint32_t{file[p]} << 24 | std::uint32_t{file[p + 1]} << 16 | std::uint32_t{file[p + 2]} << 8 |
           file[p + 3];
}

// One damage of a kind the generator picks: bytes overwritten anywhere, a bit
// flipped in an IDAT's data, a chunk length changed, or the file cut short.
ByteVector mutatePng(ByteVector file, std::mt19937& rng) {
    if (file.empty()) return file;
    std::vector<std::size_t> chunks;                            // where each length field is
    std::vector<std::pair<std::size_t, std::size_t>> idatData;  // each IDAT's data, as far as the file goes
    for (std::size_t p = 8; p + 8 <= file.size(); p += 12 + std::size_t{readU32(file, p)}) {
        chunks.push_back(p);
        if (std::equal(file.begin() + p + 4, file.begin() + p + 8, "IDAT") && p + 8 < file.size())
            idatData.emplace_back(p + 8, std::min<std::size_t>(file.size(), p + 8 + readU32(file, p)));
    }
    switch (rng() % 4) {
    case 0:
        for (std::size_t n = 1 + pick(rng, 3); n > 0; --n) file[pick(rng, file.size())] = std::uint8_t(rng());
        break;
    case 1:
        if (!idatData.empty()) {
            const auto [begin, end] = idatData[pick(rng, idatData.size())];
            if (begin < end) file[begin + pick(rng, end - begin)] ^= std::uint8_t(1u << (rng() % 8));
        }
        break;
    case 2:
        if (!chunks.empty()) {
            const std::size_t p = chunks[pick(rng, chunks.size())];
            const std::uint32_t changes[] = {1, 2, 4, 0u - 1, 0u - 2, 0u - 4, 0x80000000, std::uint32_t(rng())};
            const std::uint32_t length = readU32(file, p) + changes[pick(rng, std::size(changes))];
            for (int i = 0; i < 4; ++i) file[p + i] = std::uint8_t(length >> (24 - 8 * i));
        }
        break;
    default: file.resize(pick(rng, file.size())); break;
    }
    return file;
}

// One damage to a zlib stream: bytes overwritten, a bit flipped, a byte put in or taken out, or a cut.
ByteVector mutateZlib(ByteVector stream, std::mt19937& rng) {
    if (stream.empty()) return stream;
    const std::size_t at = pick(rng, stream.size());
    switch (rng() % 5) {
    case 0:
        for (std::size_t n = 1 + pick(rng, 3); n > 0; --n) stream[pick(rng, stream.size())] = std::uint8_t(rng());
        break;
    case 1: stream[at] ^= std::uint8_t(1u << (rng() % 8)); break;
    case 2: stream.insert(stream.begin() + std::ptrdiff_t(at), std::uint8_t(rng())); break;
    case 3: stream.erase(stream.begin() + std::ptrdiff_t(at)); break;
    default: stream.resize(at); break;
    }
    return stream;
}

// Segments of text from a few words, random bytes, runs of one byte, and copies
// from up to 32 KiB back, so that every block type and distance range occurs.
// `only` keeps to one kind of segment.
ByteVector sampleData(std::size_t size, std::mt19937& rng, int only = -1) {
    static const std::string words[] = {"snake ", "food ", "level ", "the ", "fading ", "grid\n", "sight, "};
    const std::size_t segment = std::clamp<std::size_t>(size / 8, 16, 4000);
    ByteVector data;
    while (data.size() < size) {
        std::size_t n = 1 + pick(rng, segment);
        switch (only >= 0 ? only : rng() % 4) {
        case 0:
            while (n-- > 0) {
                const std::string& word = words[pick(rng, std::size(words))];
                data.insert(data.end(), word.begin(), word.end());
            }
            break;
        case 1:
            while (n-- > 0) data.push_back(std::uint8_t(rng()));
            break;
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

struct Deflate {
    int level, strategy, windowBits;
};

ByteVector compressWith(const ByteVector& data, Deflate how) {
    return compressWithZlib(data, how.level, how.strategy, how.windowBits);
}

// Every level, every strategy, and windows from 256 bytes up.
std::vector<Deflate> everySetting() {
    std::vector<Deflate> settings;
    for (int level = 0; level <= 9; ++level) settings.push_back({level, Z_DEFAULT_STRATEGY, 15});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) settings.push_back({6, strategy, 15});
    for (int windowBits : {8, 9, 11, 13}) settings.push_back({9, Z_DEFAULT_STRATEGY, windowBits});
    return settings;
}

const fs::path SUITE = PNGSUITE_DIR;

TEST(Differential, PngSuiteFilesTheirPrefixesAndMutations) {
    const std::vector<fs::path> files = filesIn(SUITE, ".png");
    if (files.empty()) GTEST_SKIP() << "no PNG suite at " << SUITE;
    // Every cut of a few files: palette, 16-bit grey interlaced, RGBA, and many small IDATs.
    const std::string cutEverywhere[] = {"basn3p04.png", "basi0g16.png", "basn6a08.png", "oi9n2c16.png"};
    Differences differences;
    std::mt19937 rng(20240611);
    for (const fs::path& path : files) {
        const std::string name = path.filename().string();
        const ByteVector file = readFile(path);
        if (!differences.check(comparePng(file), file, name)) return;
        if (std::find(std::begin(cutEverywhere), std::end(cutEverywhere), name) != std::end(cutEverywhere))
            for (std::size_t n = 0; n < file.size(); ++n) {
                const ByteVector cut(file.begin(), file.begin() + std::ptrdiff_t(n));
                if (!differences.check(comparePng(cut), cut, name + ".cut" + std::to_string(n) + ".png")) return;
            }
        for (int m = 0; m < 300; ++m) {
            const ByteVector mutated = mutatePng(file, rng);
            if (!differences.check(comparePng(mutated), mutated, name + ".mutation" + std::to_string(m) + ".png"))
                return;
        }
    }
}

TEST(Differential, SystemZlibStreamsTheirPrefixesAndMutations) {
    Differences differences;
    std::mt19937 rng(1950);
    for (const std::size_t size : {0, 1, 37, 300, 2500})
        for (int kind = -1; kind < 3; ++kind) {
            const ByteVector data = sampleData(size, rng, kind);
            for (const Deflate how : everySetting()) {
                const ByteVector stream = compressWith(data, how);
                const std::string name = "zlib-" + std::to_string(size) + "-kind" + std::to_string(kind) + "-level" +
                                         std::to_string(how.level) + "-strategy" + std::to_string(how.strategy) +
                                         "-window" + std::to_string(how.windowBits);
                if (!differences.check(differential::compareZlibAtSizes(stream), asZlibInput(stream), name + ".zlib"))
                    return;
                for (std::size_t n = 0; size <= 300 && n < stream.size(); ++n) {
                    const ByteVector cut(stream.begin(), stream.begin() + std::ptrdiff_t(n));
                    if (!differences.check(differential::compareZlib(cut, 0), asZlibInput(cut),
                                           name + ".cut" + std::to_string(n) + ".zlib"))
                        return;
                }
                for (int m = 0; m < 40; ++m) {
                    const ByteVector mutated = mutateZlib(stream, rng);
                    const std::size_t room = std::array{std::size_t{0}, data.size(), 4 * mutated.size()}[m % 3];
                    if (!differences.check(differential::compareZlib(mutated, room), asZlibInput(mutated, room),
                                           name + ".mutation" + std::to_string(m) + ".zlib"))
                        return;
                }
            }
        }
}

// About 1 MiB of varied data: long outputs, far distances, many blocks.
TEST(Differential, LargeSystemZlibStreamsAndMutations) {
    Differences differences;
    std::mt19937 rng(1951);
    const ByteVector data = sampleData(1 << 20, rng);
    const Deflate settings[] = {{0, Z_DEFAULT_STRATEGY, 15},
                                {1, Z_DEFAULT_STRATEGY, 15},
                                {9, Z_DEFAULT_STRATEGY, 15},
                                {6, Z_HUFFMAN_ONLY, 15},
                                {6, Z_RLE, 15},
                                {6, Z_FIXED, 9}};
    for (const Deflate how : settings) {
        const ByteVector stream = compressWith(data, how);
        const std::string name =
            "zlib-1MiB-level" + std::to_string(how.level) + "-strategy" + std::to_string(how.strategy);
        if (!differences.check(differential::compareZlibAtSizes(stream), asZlibInput(stream), name + ".zlib")) return;
        for (int m = 0; m < 3; ++m) {
            const ByteVector mutated = mutateZlib(stream, rng);
            const std::size_t room = m == 0 ? data.size() / 2 : 0;
            if (!differences.check(differential::compareZlib(mutated, room), asZlibInput(mutated, room),
                                   name + ".mutation" + std::to_string(m) + ".zlib"))
                return;
        }
    }
}

TEST(Differential, LibpngImagesAndMutations) {
    const std::pair<int, int> formats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {1, 6}, {5, 3}, {13, 9}, {31, 2}};
    Differences differences;
    std::mt19937 rng(1996);
    for (const auto& [colorType, depth] : formats)
        for (const auto& [width, height] : sizes)
            for (int interlace = 0; interlace < 2; ++interlace)
                for (const int filter : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
                                         PNG_FILTER_PAETH, PNG_ALL_FILTERS}) {
                    const std::string name = "libpng-type" + std::to_string(colorType) + "-depth" +
                                             std::to_string(depth) + "-" + std::to_string(width) + "x" +
                                             std::to_string(height) + "-interlace" + std::to_string(interlace) +
                                             "-filter" + std::to_string(filter);
                    const ByteVector file =
                        encodeWithLibpng(randomImage(colorType, depth, width, height, interlace, filter, rng));
                    if (!differences.check(comparePng(file), file, name + ".png")) return;
                    for (int m = 0; m < 12; ++m) {
                        const ByteVector mutated = mutatePng(file, rng);
                        if (!differences.check(comparePng(mutated), mutated,
                                               name + ".mutation" + std::to_string(m) + ".png"))
                            return;
                    }
                }
}

// Code lengths of every shape a dynamic header can carry: prefix codes with
// codes up to 15 bits, complete or not, and over-subscribed ones, which the
// tree build accepts or refuses in its own way.
std::vector<std::uint32_t> randomCodeLengths(std::size_t count, int shape, std::mt19937& rng) {
    std::vector<std::uint32_t> lengths(count);
    if (shape == 0) {  // over-subscribed, mostly
        for (auto& length : lengths) length = rng() % 4 == 0 ? 0 : 1 + rng() % 15;
        return lengths;
    }
    // A prefix code: all at 15 bits, then codes shortened while they fit.
    std::uint64_t kraft = 0;
    for (auto& length : lengths) {
        length = rng() % 5 == 0 ? 0 : 15;
        if (length) kraft += 1;
    }
    const std::uint64_t room = shape == 1 ? (1u << 15) : (1u << 15) - rng() % 4096;  // complete, or not
    for (int tries = 0; tries < 4000; ++tries) {
        auto& length = lengths[rng() % count];
        if (length <= 1) continue;
        const std::uint64_t gain = 1u << (15 - length);
        if (kraft + gain <= room) {
            kraft += gain;
            --length;
        }
    }
    return lengths;
}

// One dynamic block with the given lengths, spelt without repeats under a
// complete code-length code, followed by random bits for data.
ByteVector dynamicBlock(const std::vector<std::uint32_t>& literal, const std::vector<std::uint32_t>& distance,
                        std::mt19937& rng) {
    static constexpr int ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::uint32_t codeLengthLength[19];
    for (int i = 0; i < 19; ++i) codeLengthLength[ORDER[i]] = i < 13 ? 4 : 5;  // 13/16 + 6/32 = 1
    std::uint32_t code[19], next[6] = {0, 0, 0, 0, 0, 26};                     // canonical: 4 bits from 0, 5 from 26
    for (int symbol = 0; symbol < 19; ++symbol) code[symbol] = next[codeLengthLength[symbol]]++;
    BitWriter bits;
    bits.put(1, 1).put(2, 2);  // BFINAL, BTYPE dynamic
    bits.put(std::uint32_t(literal.size() - 257), 5).put(std::uint32_t(distance.size() - 1), 5).put(15, 4);
    for (const int symbol : ORDER) bits.put(codeLengthLength[symbol], 3);
    for (const auto* lengths : {&literal, &distance})
        for (const std::uint32_t length : *lengths) bits.putHuffman(code[length], codeLengthLength[length]);
    for (int i = 0; i < 3000; ++i) bits.put(rng(), 8);
    return zlibWrap(bits.bytes());
}

TEST(Differential, DynamicBlocksOfOddCodes) {
    Differences differences;
    std::mt19937 rng(2718);
    for (int n = 0; n < 3000; ++n) {
        std::vector<std::uint32_t> literal = randomCodeLengths(257 + rng() % 30, n % 3, rng);
        // Few distance codes of short distances, so that random data decodes far.
        std::vector<std::uint32_t> distance = randomCodeLengths(1 + rng() % 4, n % 3 == 0 ? 0 : 1, rng);
        if (n % 7 != 0) literal[256] = 15;  // an end-of-block code, mostly
        const ByteVector stream = dynamicBlock(literal, distance, rng);
        const std::size_t room = std::array{std::size_t{0}, std::size_t{300}, std::size_t{1} << 16}[n % 3];
        if (!differences.check(differential::compareZlib(stream, room), asZlibInput(stream, room),
                               "dynamic-" + std::to_string(n) + ".zlib"))
            return;
    }
}

// What once made the decoders differ or crash: whole PNG files, and zlib fuzz inputs.
TEST(Differential, Regressions) {
    Differences differences;
    for (const fs::path& path : filesIn(REGRESSIONS_DIR, ".png")) {
        const ByteVector file = readFile(path);
        differences.check(comparePng(file), file, path.filename().string());
    }
    for (const fs::path& path : filesIn(REGRESSIONS_DIR, ".zlib")) {
        const ByteVector input = readFile(path);
        std::string difference = differential::compareZlibFuzzInput(input.data(), input.size());
        if (difference.empty() && input.size() >= 2)
            difference = differential::compareZlibAtSizes(ByteVector(input.begin() + 2, input.end()));
        differences.check(difference, input, path.filename().string());
    }
}

}  // namespace
