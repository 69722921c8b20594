#include "platform/pathchecks.h"
#include "platform/nativepath.h"

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

struct PathCase
{
    const char *what;
    std::string (*path)(const TempDir &dir);
    bool file;
    bool folder;
};

std::ostream &operator<<(std::ostream &out, const PathCase &row)
{
    return out << row.what;
}

std::string LongPath(const TempDir &dir)
{
    // Longer than any system path limit, made of an existing folder.
    std::string path = dir.path();
    while (path.size() <= 5000)
        path += "/.";
    return path + "/d";
}

#ifdef _WIN32
std::string Backslashed(std::string path)
{
    for (char &c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}
#endif

const PathCase kPathCases[] = {
    {"folder", [](const TempDir &d) { return d / "d"; }, true, true},
    {"folder with one trailing slash", [](const TempDir &d) { return d / "d/"; }, false, true},
    {"folder with two trailing slashes", [](const TempDir &d) { return d / "d//"; }, false, false},
    {"folder with trailing backslash", [](const TempDir &d) { return d / "d\\"; }, false, false},
    {"file", [](const TempDir &d) { return d / "f.txt"; }, true, false},
    {"file with trailing slash", [](const TempDir &d) { return d / "f.txt/"; }, false, false},
    {"file below a folder", [](const TempDir &d) { return d / "d/inner.txt"; }, true, false},
    {"missing entry", [](const TempDir &d) { return d / "missing"; }, false, false},
    {"missing entry with trailing slash", [](const TempDir &d) { return d / "missing/"; }, false, false},
    {"empty path", [](const TempDir &) { return std::string(); }, false, false},
    {"single slash", [](const TempDir &) { return std::string("/"); }, false, false},
    {"zero byte after a folder name",
     [](const TempDir &d) { return d / "d" + std::string(1, '\0') + "x"; }, false, false},
    {"path longer than the system limit", LongPath, false, false},
    {"wildcard matching a folder", [](const TempDir &d) { return d / "*"; }, false, false},
#ifdef _WIN32
    {"folder, backslashes", [](const TempDir &d) { return Backslashed(d / "d"); }, true, true},
    {"folder, backslashes and one trailing slash",
     [](const TempDir &d) { return Backslashed(d / "d") + "/"; }, false, true},
    {"file, backslashes", [](const TempDir &d) { return Backslashed(d / "d/inner.txt"); }, true, false},
    {"file with trailing backslash", [](const TempDir &d) { return Backslashed(d / "f.txt\\"); },
     false, false},
    // The prefix holds the only '?' a name may have.
    {"folder with the long-path prefix",
     [](const TempDir &d) { return "\\\\?\\" + Backslashed(d / "d"); }, true, true},
    {"wildcard after the long-path prefix",
     [](const TempDir &d) { return "\\\\?\\" + Backslashed(d / "?"); }, false, false},
#else
    // A link is an entry of its own; a link to a folder is a folder.
    {"link to folder", [](const TempDir &d) { return d / "folderlink"; }, true, true},
    {"link to folder with trailing slash", [](const TempDir &d) { return d / "folderlink/"; }, false, true},
    {"link to file", [](const TempDir &d) { return d / "filelink"; }, true, false},
    {"dangling link", [](const TempDir &d) { return d / "dangling"; }, true, false},
    // The root is no folder to a job, however it is reached; it still exists.
    {"root as /.", [](const TempDir &) { return std::string("/."); }, true, false},
    {"root as /..", [](const TempDir &) { return std::string("/../"); }, false, false},
    {"root as //.", [](const TempDir &) { return std::string("//."); }, true, false},
    {"root through a folder's ..",
     [](const TempDir &d) {
         std::string path = d / "d";
         for (int i = 0; i < 40; ++i)
             path += "/..";
         return path;
     },
     true, false},
    {"link to the root", [](const TempDir &d) { return d / "rootlink/"; }, false, false},
    {"folder with a /. inside", [](const TempDir &d) { return d / "d/./"; }, false, true},
#endif
};

class PathChecksTest : public testing::TestWithParam<PathCase>
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directory(dir / "d");
        std::ofstream(dir / "f.txt") << "x";
        std::ofstream(dir / "d/inner.txt") << "y";
#ifndef _WIN32
        ASSERT_EQ(symlink((dir / "d").c_str(), (dir / "folderlink").c_str()), 0);
        ASSERT_EQ(symlink((dir / "f.txt").c_str(), (dir / "filelink").c_str()), 0);
        ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
        ASSERT_EQ(symlink("/", (dir / "rootlink").c_str()), 0);
#endif
    }

    TempDir dir;
};

TEST_P(PathChecksTest, AnswersAsTheDirectorySearch)
{
    const PathCase &row = GetParam();
    const std::string path = row.path(dir);
    EXPECT_EQ(FileExists(path), row.file) << path.substr(0, 200);
    EXPECT_EQ(FolderExists(path), row.folder) << path.substr(0, 200);
}

INSTANTIATE_TEST_SUITE_P(Paths, PathChecksTest, testing::ValuesIn(kPathCases));

// A job's folder is refused at the top of a file system, however a link
// leads there: told from the final path, by the system.
TEST(SystemRoot, TopsOfFileSystemsAndLinksToThem)
{
    TempDir dir;
    EXPECT_FALSE(IsSystemRoot(dir.path()));
    EXPECT_FALSE(IsSystemRoot(dir.path() + "/"));
    EXPECT_FALSE(IsSystemRoot(""));
    std::vector<std::string> links; // made beside the tree, leading to a top
#ifdef _WIN32
    EXPECT_TRUE(IsSystemRoot("C:/"));
    EXPECT_TRUE(IsSystemRoot("C:\\"));
    EXPECT_FALSE(IsSystemRoot("C:/windows"));
    // Made on the other side of the drive by the test script (Wine shows
    // such links as folders), where the script could.
    for (const char *link : {"C:/qb-rootlink", "C:/qb-fsroot"})
        if (std::filesystem::exists(link))
            links.push_back(link);
#else
    EXPECT_TRUE(IsSystemRoot("/"));
    ASSERT_EQ(symlink("/", (dir / "rootlink").c_str()), 0);
    links.push_back(dir / "rootlink");
#endif
    for (const std::string &link : links) {
        std::string final;
        ASSERT_TRUE(FinalPathOf(link, final)) << link;
        EXPECT_TRUE(IsSystemRoot(final)) << link << " -> " << final;
    }
}

} // namespace
