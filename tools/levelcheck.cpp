// levelcheck: tells a level author whether the game can play each level file,
// using the game's own loading and snake placement. Files are only read.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "game/level.h"
#include "game/level_file.h"

namespace {

constexpr int EXIT_ALL_PLAYABLE = 0;
constexpr int EXIT_SOME_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

void usage(std::FILE* stream) {
    std::fputs(
        "usage: levelcheck FILE...\n"
        "\n"
        "Prints one line per level FILE, as the game would see it:\n"
        "  FILE: playable W x H, OPEN open, WALLS walls, snake (X,Y) to (X+3,Y) heading right[, best SCORE]\n"
        "  FILE: refused: REASON\n"
        "\n"
        "A pixel with odd alpha (255) is open floor, even alpha a wall, alpha 0 a wall\n"
        "that is not drawn. Play needs five open pixels side by side in a row: the\n"
        "snake is laid on the first such run, reading from the top left.\n"
        "\n"
        "Exit status: 0 when every file can be played, 1 when any cannot, 2 for a usage error.\n",
        stream);
}

std::string describeBuildFailure(unsigned code) {
    if (code == LEVEL_TOO_LARGE) return "more than " + std::to_string(MAX_LEVEL_CELLS) + " cells";
    return "not a PNG image the game can decode (error " + std::to_string(code) + ")";
}

// Prints the file's line; true when the game can play it.
bool check(const std::string& path) {
    const std::optional<ByteVector> file = readWholeFile(path);
    if (!file) {
        std::printf("%s: refused: cannot be opened\n", path.c_str());
        return false;
    }
    Level level;
    if (const unsigned code = level.build(file->data(), file->size()); code != 0) {
        std::printf("%s: refused: %s\n", path.c_str(), describeBuildFailure(code).c_str());
        return false;
    }
    const std::size_t open = level.openCellCount();
    const std::size_t walls = level.cells.size() - open;
    const std::optional<Segment> tail = level.snakeTail();
    if (!tail) {
        std::printf("%s: refused: %d x %d, %zu open, %zu walls, %s\n", path.c_str(), level.width, level.height, open,
                    walls, open == 0 ? "no open cell" : "no five open cells side by side in a row");
        return false;
    }
    std::printf("%s: playable %d x %d, %zu open, %zu walls, snake (%d,%d) to (%d,%d) heading right", path.c_str(),
                level.width, level.height, open, walls, tail->x, tail->y, tail->x + START_LENGTH - 1, tail->y);
    if (const std::optional<std::int32_t> best = readStoredBest(path)) std::printf(", best %d", *best);
    std::printf("\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return EXIT_ALL_PLAYABLE;
    }
    if (argc < 2) {
        usage(stderr);
        return EXIT_USAGE;
    }
    int status = EXIT_ALL_PLAYABLE;
    for (int i = 1; i < argc; ++i) {
        if (!check(argv[i])) status = EXIT_SOME_REFUSED;
    }
    return status;
}
