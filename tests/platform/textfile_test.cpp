#include "platform/textfile.h"

#include "tempdir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
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

TEST(WriteTextFileTest, WritesEveryByteAndReplacesALongerFile)
{
    TempDir dir;
    const std::string path = dir / "report.txt";
    {
        std::ofstream(path, std::ios::binary) << std::string(10000, 'z');
    }
    const std::string content = std::string("D:/a/\xe6\x96\x87.txt\nsecond\n")
                                + std::string(1, '\0') + "after zero\n" + std::string(70000, 'x');
    ASSERT_TRUE(WriteTextFile(path, content));
    EXPECT_EQ(ReadBytes(path), OnDisk(content));

    ASSERT_TRUE(WriteTextFile(path, ""));
    EXPECT_EQ(ReadBytes(path), "");
}

TEST(WriteTextFileTest, FailsWithoutCreatingAnything)
{
    TempDir dir;
    EXPECT_FALSE(WriteTextFile(dir / "missing/report.txt", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

    std::filesystem::create_directory(dir / "folder");
    EXPECT_FALSE(WriteTextFile(dir / "folder", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));

    // The name ends at a zero byte for the system: refuse rather than write
    // to a shorter name.
    EXPECT_FALSE(WriteTextFile(dir / "a" + std::string(1, '\0') + "b", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a"));
}

#ifndef _WIN32
TEST(WriteTextFileTest, ReportsAFullDisk)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    // Small writes only fail when the buffer is flushed at close.
    EXPECT_FALSE(WriteTextFile("/dev/full", "x"));
    EXPECT_FALSE(WriteTextFile("/dev/full", std::string(100000, 'x')));
}

TEST(WriteTextFileTest, FailsInAReadOnlyFolder)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TempDir dir;
    std::filesystem::create_directory(dir / "ro");
    ASSERT_EQ(chmod((dir / "ro").c_str(), 0555), 0);
    EXPECT_FALSE(WriteTextFile(dir / "ro/report.txt", "x"));
    chmod((dir / "ro").c_str(), 0755);
}
#endif

} // namespace
