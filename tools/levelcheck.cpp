// levelcheck: tells a level author whether the game can play each level file,
// using the game's own loading and snake placement. Files are only read.

#include <cstdio>
#include <optional>
#include <string>

#include <algorithm>
#include <vector>

#include "files/file.h"
#include "game/level.h"
#include "game/level_file.h"
#include "tools/command_line.h"

namespace {

constexpr int EXIT_ALL_PLAYABLE = 0;
constexpr int EXIT_SOME_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

void usage(std::FILE* stream) {
    std::fputs(
        "usage: levelcheck [--] FILE...\n"
        "       levelcheck --help | --version\n"
        "\n"
        "Prints one line per level FILE, as the game would see it:\n"
        "  FILE: playable W x H, OPEN open, WALLS walls, snake (X,Y) to (X+3,Y) heading right[, best SCORE]\n"
        "        [; warning: WHAT]...\n"
        "  FILE: refused: REASON\n"
        "\n"
        "A pixel with odd alpha (255) is open floor, even alpha a wall, alpha 0 a wall\n"
        "that is not drawn. Play needs five open pixels side by side in a row: the\n"
        "snake is laid on the first such run, reading from the top left.\n"
        "\n"
        "A warning says what a player would find unfair: a snake that starts under\n"
        "the score line, on or next to an open border, or facing a wall within three\n"
        "squares; or a level larger than the window shows. It does not change the\n"
        "exit status.\n"
        "\n"
        "Exit status: 0 when every file can be played, 1 when any cannot, 2 for a usage error.\n",
        stream);
}

std::string describeBuildFailure(unsigned code) {
    if (code == LEVEL_TOO_LARGE) return "wider or taller than " + std::to_string(MAX_LEVEL_SIDE) + " squares";
    return "not a PNG image the game can decode (error " + std::to_string(code) + ")";
}

// Why the game would not read the file, as readRegularFile said.
std::string describeReadFailure(ReadFailure failure) {
    if (failure == ReadFailure::TOO_LARGE) return "larger than " + std::to_string(MAX_LEVEL_FILE_BYTES >> 20) + " MiB";
    return describe(failure);
}

// What makes a playable level's first moments unfair, or hides part of it.
std::vector<std::string> warnings(const Level& level, Segment tail) {
    std::vector<std::string> found;
    const Segment head{tail.x + START_LENGTH - 1, tail.y};
    if (tail.y < SCORE_LINE_ROWS) found.emplace_back("the snake starts under the score line");
    if (std::min(level.distanceToOpenBorder(tail), level.distanceToOpenBorder(head)) <= 1)
        found.emplace_back("the snake starts on or next to an open border");
    if (const std::int32_t open = level.openSquaresAhead(head); open < 3 && head.x + open + 1 < level.width)
        found.push_back("the snake faces a wall " + std::to_string(open + 1) + " squares ahead");
    if (level.width > SHOWN_SIDE || level.height > SHOWN_SIDE)
        found.push_back("larger than the " + std::to_string(SHOWN_SIDE) + " x " + std::to_string(SHOWN_SIDE) +
                        " squares the window shows");
    return found;
}

// Prints the file's line; true when the game can play it.
bool check(const std::string& path) {
    const std::string name = printableName(path);
    const FileContents file = readRegularFile(path, MAX_LEVEL_FILE_BYTES);
    if (file.failure != ReadFailure::NONE) {
        std::printf("%s: refused: %s\n", name.c_str(), describeReadFailure(file.failure).c_str());
        return false;
    }
    Level level;
    if (const unsigned code = level.build(file.bytes.data(), file.bytes.size()); code != 0) {
        std::printf("%s: refused: %s\n", name.c_str(), describeBuildFailure(code).c_str());
        return false;
    }
    const std::size_t open = level.openCellCount();
    const std::size_t walls = level.cells.size() - open;
    const std::optional<Segment> tail = level.snakeTail();
    if (!tail) {
        std::printf("%s: refused: %d x %d, %zu open, %zu walls, %s\n", name.c_str(), level.width, level.height, open,
                    walls, open == 0 ? "no open cell" : "no five open cells side by side in a row");
        return false;
    }
    std::printf("%s: playable %d x %d, %zu open, %zu walls, snake (%d,%d) to (%d,%d) heading right", name.c_str(),
                level.width, level.height, open, walls, tail->x, tail->y, tail->x + START_LENGTH - 1, tail->y);
    if (const std::optional<std::int32_t> best = storedBest(file.bytes)) std::printf(", best %d", *best);
    for (const std::string& warning : warnings(level, *tail)) std::printf("; warning: %s", warning.c_str());
    std::printf("\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // No file opened here may take a closed descriptor's number; writes to a
    // closed standard output still fail, for exit status 2.
    platform::fillClosedStandardDescriptors(platform::ClosedOutput::REFUSES);
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyFiles || !isOption(arg)) {
            files.push_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (isHelp(arg)) {
            usage(stdout);
            return checkedExit("levelcheck", EXIT_ALL_PLAYABLE);
        } else if (isVersion(arg)) {
            printVersion("levelcheck");
            return checkedExit("levelcheck", EXIT_ALL_PLAYABLE);
        } else {
            std::fprintf(stderr, "levelcheck: unknown option '%s'\n", printableName(arg).c_str());
            usage(stderr);
            return EXIT_USAGE;
        }
    }
    if (files.empty()) {
        usage(stderr);
        return EXIT_USAGE;
    }
    int status = EXIT_ALL_PLAYABLE;
    for (const std::string& file : files) {
        if (!check(file)) status = EXIT_SOME_REFUSED;
    }
    return checkedExit("levelcheck", status);
}
