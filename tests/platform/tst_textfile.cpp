#include "platform/textfile.h"

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What text mode makes of a line feed on this system.
std::string OnDisk(const std::string &text)
{
#ifdef _WIN32
    std::string result;
    for (char c : text) {
        if (c == '\n')
            result += '\r';
        result += c;
    }
    return result;
#else
    return text;
#endif
}

TEST(CreateTextFileTest, WritesEveryBlockInTextMode)
{
    TempDir dir;
    const std::vector<std::string> blocks = {
        std::string("D:/a/\xe6\x96\x87.txt\nsecond\n") + std::string(1, '\0') + "after zero\n",
        "", std::string(70000, 'x') + "\n"};
    const TextFileStatus status = CreateTextFile(dir.path(), "report.txt", blocks);
    ASSERT_EQ(status.result, TextFileResult::Written);
    EXPECT_EQ(ReadBytes(dir / "report.txt"), OnDisk(blocks[0] + blocks[1] + blocks[2]));

    ASSERT_EQ(CreateTextFile(dir.path() + "/", "empty.txt", {}).result, TextFileResult::Written);
    EXPECT_TRUE(std::filesystem::exists(dir / "empty.txt"));
    EXPECT_EQ(ReadBytes(dir / "empty.txt"), "");
}

TEST(CreateTextFileTest, NeverWritesOverAnExistingEntry)
{
    TempDir dir;
    {
        std::ofstream(dir / "report.txt", std::ios::binary) << "the user's";
    }
    EXPECT_EQ(CreateTextFile(dir.path(), "report.txt", {"new\n"}).result,
              TextFileResult::NotCreated);
    EXPECT_EQ(ReadBytes(dir / "report.txt"), "the user's");

    std::filesystem::create_directory(dir / "folder");
    EXPECT_EQ(CreateTextFile(dir.path(), "folder", {"x"}).result, TextFileResult::NotCreated);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

TEST(CreateTextFileTest, RefusesWhatIsNoPlainName)
{
    TempDir dir;
    EXPECT_EQ(CreateTextFile(dir / "missing", "report.txt", {"x"}).result,
              TextFileResult::NotCreated);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    std::filesystem::create_directory(dir / "sub");
    for (const std::string &name : {std::string(), std::string("."), std::string(".."),
                                    std::string("sub/r.txt"), std::string("a\0b", 3)})
        EXPECT_EQ(CreateTextFile(dir.path(), name, {"x"}).result, TextFileResult::NotCreated)
            << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "a"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "sub"));
}

#ifndef _WIN32
TEST(CreateTextFileTest, NeverWritesThroughALink)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "in");
    {
        std::ofstream(dir / "outside.txt", std::ios::binary) << "keep";
    }
    std::filesystem::create_symlink(dir / "outside.txt", dir / "in/report.txt");
    std::filesystem::create_symlink(dir / "nowhere.txt", dir / "in/dangling.txt");
    EXPECT_EQ(CreateTextFile(dir / "in", "report.txt", {"new\n"}).result,
              TextFileResult::NotCreated);
    EXPECT_EQ(CreateTextFile(dir / "in", "dangling.txt", {"new\n"}).result,
              TextFileResult::NotCreated);
    EXPECT_EQ(ReadBytes(dir / "outside.txt"), "keep");
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere.txt"));
}

// A write that can't be finished (here a file size limit, as a full disk
// would do) leaves no file that looks complete.
TEST(CreateTextFileTest, RemovesAFileItCouldNotWriteWhole)
{
    TempDir dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const TextFileStatus small = CreateTextFile(dir.path(), "small.txt", {"fits\n"});
        const TextFileStatus big =
            CreateTextFile(dir.path(), "big.txt", {std::string(3000, 'x'), std::string(3000, 'y')});
        _exit(small.result == TextFileResult::Written && big.result == TextFileResult::NotWritten
                      && big.systemCode == EFBIG
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadBytes(dir / "small.txt"), "fits\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "big.txt"));
}

TEST(CreateTextFileTest, FailsInAReadOnlyFolder)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    std::filesystem::create_directory(dir / "ro");
    ASSERT_EQ(chmod((dir / "ro").c_str(), 0555), 0);
    EXPECT_EQ(CreateTextFile(dir / "ro", "report.txt", {"x"}).result, TextFileResult::NotCreated);
    chmod((dir / "ro").c_str(), 0755);
}
#endif

} // namespace
