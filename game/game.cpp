#include "game/game.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "game/clock.h"
#include "game/level_file.h"
#include "game/random.h"

namespace {

constexpr const char* NO_LEVEL_MESSAGE =
    "Could not find a level file to load, please ensure there is at least one PNG file in this folder called e.g., "
    "level1.png\n";
constexpr const char* NO_PLAYABLE_LEVEL_MESSAGE =
    "Could not find a level file to play, please ensure at least one of the level files in this folder is a PNG "
    "image with five open pixels side by side in a row\n";

// One step, heard when it eats. False when it killed the snake.
bool stepSnake(Game& game) {
    const std::int32_t length = game.snake.length;
    const bool alive = game.snake.step(game.nextHeading, game.level);
    if (game.snake.length > length) game.sound.play(Cue::FOOD, game.score());
    return alive;
}

}  // namespace

void failStart(const char* message) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    std::getchar();
    std::exit(-1);
}

void Game::startGame() {
    onTitle = true;
    levelCount = countLevelFiles();
    if (levelCount < 1) failStart(NO_LEVEL_MESSAGE);
    if (!startLevel()) failStart(NO_PLAYABLE_LEVEL_MESSAGE);
}

bool Game::startLevel() {
    // Bytes, not bools: the standard library checks indices into these in a checked build.
    std::vector<std::uint8_t> refused(static_cast<std::size_t>(levelCount) + 1);
    std::int32_t refusedCount = 0;
    while (refusedCount < levelCount) {
        levelNumber = std::min(1 + scaleDraw(gameRandom.draw(), levelCount), levelCount);
        // Read once: the best score, the grid and which file they came from.
        FileContents file = readRegularFile(levelFileName(levelNumber), MAX_LEVEL_FILE_BYTES);
        bestScore = storedBest(file.bytes).value_or(0);
        levelFile = std::move(file.file);
        const std::optional<Segment> tail =
            level.build(file.bytes.data(), file.bytes.size()) == 0 ? level.snakeTail() : std::nullopt;
        if (!tail) {
            if (!refused[levelNumber]) ++refusedCount;
            refused[levelNumber] = 1;
            continue;
        }
        level.resetFood();
        snake.reset(tail->x, tail->y, level.width * level.height);
        startTicks = 0;
        nextHeading = HEADING_RIGHT;
        fog = true;
        return true;
    }
    return false;
}

void Game::closeTitle() {
    if (!onTitle) return;
    onTitle = false;
    sound.play(Cue::NEW_LEVEL);
}

bool Game::steer(Heading toward) {
    if (snake.heading == (toward + 2) % 4) return false;
    nextHeading = toward;
    return true;
}

void Game::apply(Command command) {
    switch (command) {
    case Command::STEER_LEFT:
    case Command::STEER_UP:
    case Command::STEER_RIGHT:
    case Command::STEER_DOWN: steer(static_cast<Heading>(command)); break;
    case Command::START: closeTitle(); break;
    case Command::FOG: fog = !fog; break;
    case Command::PAUSE: pause(!paused); break;
    case Command::MUTE: sound.toggleMute(); break;
    default: break;
    }
}

void Game::pause(bool on) {
    if (onTitle || paused == on) return;
    paused = on;
    sound.play(on ? Cue::PAUSE : Cue::RESUME);
}

void Game::saveScore() { offerScore(levelFileName(levelNumber), score(), levelFile); }

std::uint32_t Game::advance() {
    if (startTicks == 0) startTicks = lastTicks = readTicks();
    const std::uint32_t sinceStart = readTicks() - startTicks;
    const std::uint32_t delta = readTicks() - lastTicks;
    lastTicks = readTicks();  // the time between these two readings goes to no frame
    if (onTitle || paused) return sinceStart;

    snake.credit(delta);
    if (snake.elapsed >= snake.stepInterval && !stepSnake(*this)) {
        sound.play(Cue::DEATH);
        saveScore();
        if (!startLevel()) failStart(NO_PLAYABLE_LEVEL_MESSAGE);
        sound.play(Cue::NEW_LEVEL);
        // The dead snake's frame time goes to the new one; the square ahead of a
        // fresh snake is always open, so this step cannot kill.
        snake.credit(delta);
        if (snake.elapsed >= snake.stepInterval) stepSnake(*this);
    }
    level.fade(delta);
    return sinceStart;
}
