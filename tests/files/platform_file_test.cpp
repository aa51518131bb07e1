// The platform files held to what the level files and pngdecode's output rely
// on, in words both systems share: the same checks run on Linux and, built
// for Windows, under Wine (make test-windows).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/file.h"
#include "files/platform_file.h"
#include "game/level_file.h"
#include "tools/output_file.h"

namespace {

namespace fs = std::filesystem;

class PlatformFile : public ::testing::Test {
protected:
    void SetUp() override {
        // Named for the test and the moment, as other runs of these tests may share the machine.
        folder_ = fs::temp_directory_path() /
                  (std::string("kestrivane-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(folder_);
        fs::current_path(folder_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }

    static void write(const char* path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string read(const char* path) {
        return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
    }
    fs::path folder_, previous_ = fs::current_path();
};

TEST_F(PlatformFile, OpensOnlyWhatExistsAndSizesOnlyRegularFiles) {
    write("file", "0123456789");
    fs::create_directory("folder");
    EXPECT_EQ(platform::openExisting("missing", platform::Access::READ), platform::NO_FILE);
    const OpenedFile folder(platform::openExisting("folder", platform::Access::READ));
    EXPECT_TRUE(folder.isOpen() && !platform::regularFileSize(folder.handle()));

    const OpenedFile file(platform::openExisting("file", platform::Access::READ_WRITE));
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(platform::regularFileSize(file.handle()), 10u);
    std::uint8_t bytes[4] = {};
    EXPECT_EQ(platform::readAt(file.handle(), bytes, 4, 8), 2);
    EXPECT_EQ(std::string(bytes, bytes + 2), "89");
    EXPECT_EQ(platform::readAt(file.handle(), bytes, 4, 10), 0);
    EXPECT_EQ(platform::writeAt(file.handle(), reinterpret_cast<const std::uint8_t*>("ab"), 2, 10u), 2);
    EXPECT_TRUE(platform::resize(file.handle(), 11));
    EXPECT_EQ(read("file"), "0123456789a");
}

TEST_F(PlatformFile, KnowsOneFileAndLocksAsGamesShareALevel) {
    for (const char* path : {"level", "other"}) write(path, "x");
    const auto open = [](const char* path) { return OpenedFile(platform::openExisting(path, platform::Access::READ)); };
    const OpenedFile first = open("level"), second = open("level"), other = open("other");
    fs::rename("level", "moved");
    write("level", "x");
    EXPECT_EQ(std::tuple(first.sameFileAs(second), first.sameFileAs(other), first.sameFileAs(open("level"))),
              std::tuple(true, false, false));

    const OpenedFile third = open("moved");
    EXPECT_EQ(platform::tryLock(first.handle(), true), platform::Lock::TAKEN);
    EXPECT_EQ(platform::tryLock(second.handle(), false), platform::Lock::HELD_ELSEWHERE);
    EXPECT_EQ(platform::tryLock(second.handle(), true), platform::Lock::HELD_ELSEWHERE);
    platform::unlock(first.handle());
    EXPECT_EQ(platform::tryLock(second.handle(), false), platform::Lock::TAKEN);
    EXPECT_EQ(platform::tryLock(third.handle(), false), platform::Lock::TAKEN);
    EXPECT_EQ(platform::tryLock(first.handle(), true), platform::Lock::HELD_ELSEWHERE);
}

// The score goes into the level that was loaded, through the Windows calls too,
// and not into a file that took its name, nor past another's lock.
TEST_F(PlatformFile, AScoreGoesIntoTheLoadedLevelOnly) {
    const std::string level = read(KESTRIVANE_DEADLY_LEVEL);
    write("level1.png", level);
    FileContents loaded = readRegularFile("level1.png", MAX_LEVEL_FILE_BYTES);
    ASSERT_EQ(loaded.failure, ReadFailure::NONE);
    offerScore("level1.png", 9, loaded.file);
    EXPECT_EQ(read("level1.png").size(), level.size() + TRAILER_SIZE);

    const OpenedFile holder(platform::openExisting("level1.png", platform::Access::READ));
    ASSERT_EQ(platform::tryLock(holder.handle(), true), platform::Lock::TAKEN);
    offerScore("level1.png", 99, loaded.file);  // gives up within a second
    platform::unlock(holder.handle());
    EXPECT_EQ(storedBest(readRegularFile("level1.png", MAX_LEVEL_FILE_BYTES).bytes), 9);

    fs::rename("level1.png", "played.png");
    write("level1.png", level);
    offerScore("level1.png", 99, loaded.file);
    EXPECT_EQ(read("level1.png"), level);
}

TEST_F(PlatformFile, OutputReplacesAFileWholeAndKnowsItsLinks) {
    const auto bytes = [](const char* text) { return reinterpret_cast<const std::uint8_t*>(text); };
    write("out", "old");
    EXPECT_EQ(writeOutputFile("out", bytes("new\nbytes\x1a\r"), 11), nullptr);  // as they are, on Windows too
    EXPECT_EQ(read("out"), "new\nbytes\x1a\r");
    EXPECT_STREQ(writeOutputFile("missing/out", bytes("x"), 1), CANNOT_WRITE);
    write("read-only", "old");
    fs::permissions("read-only", fs::perms::owner_read);
    EXPECT_STREQ(writeOutputFile("read-only", bytes("new"), 3), READ_ONLY);
    EXPECT_EQ(read("read-only"), "old");
    fs::permissions("read-only", fs::perms::owner_all);  // so that it can go
    EXPECT_EQ(std::tuple(platform::sameFile("out", "./out"), platform::sameFile("out", "read-only"),
                         platform::sameFile("out", "missing")),
              std::tuple(true, false, false));
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2);  // no temporary left
}

}  // namespace
