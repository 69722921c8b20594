#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct FolderCase
{
    const char *programPath;
    char separator;
    const char *folder;
};

std::ostream &operator<<(std::ostream &out, const FolderCase &row)
{
    return out << '"' << row.programPath << "\" / '" << row.separator << "'";
}

const FolderCase kFolderCases[] = {
    {"D:\\Tools\\Quillbarrow.exe", '\\', "D:\\Tools\\"},
    {"D:\\Quillbarrow.exe", '\\', "D:\\"},
    {"Quillbarrow.exe", '\\', ""},
    {"D:/Tools/Quillbarrow.exe", '\\', ""},
    {"/opt/qb/Quillbarrow", '/', "/opt/qb/"},
    {"/Quillbarrow", '/', "/"},
    {"./Quillbarrow", '/', "./"},
    {"Quillbarrow", '/', ""},
    {"a\\b/c\\d", '/', "a\\b/"},
    {"dir/", '/', "dir/"},
    {"", '/', ""},
};

class ProgramFolderTest : public testing::TestWithParam<FolderCase>
{
};

TEST_P(ProgramFolderTest, KeepsEverythingUpToTheLastSeparator)
{
    const FolderCase &row = GetParam();
    EXPECT_EQ(ProgramFolderOf(row.programPath, row.separator), row.folder);
}

INSTANTIATE_TEST_SUITE_P(Paths, ProgramFolderTest, testing::ValuesIn(kFolderCases));

#ifdef _WIN32
const char kSep = '\\';
#else
const char kSep = '/';
#endif

// Runs InitStartupFields on a copy of `args`, as main would see them.
void Init(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    InitStartupFields(static_cast<int>(args.size()), argv.data());
}

TEST(StartupFieldsTest, FixedExecutableName)
{
#ifdef _WIN32
    EXPECT_STREQ(kInstanceExecutableName, "Quillbarrow.exe");
#else
    EXPECT_STREQ(kInstanceExecutableName, "Quillbarrow");
#endif
}

TEST(StartupFieldsTest, FieldsFromTheArgumentVector)
{
#ifdef _WIN32
    const std::string folder = "D:\\Tools\\";
#else
    const std::string folder = "/opt/qb/";
#endif
    Init({folder + "Quillbarrow", "-autorun", "ignored"});
    EXPECT_EQ(Startup().programPath, folder + "Quillbarrow");
    EXPECT_EQ(Startup().firstArgument, "-autorun");
    EXPECT_EQ(Startup().programFolder, folder);
    EXPECT_EQ(Startup().settingsPath, folder + "Quillbarrow.qzt");

    // A later start-up leaves nothing of the earlier one behind.
    Init({"Quillbarrow"});
    EXPECT_EQ(Startup().programPath, "Quillbarrow");
    EXPECT_EQ(Startup().firstArgument, "");
    EXPECT_EQ(Startup().programFolder, "");
    EXPECT_EQ(Startup().settingsPath, "Quillbarrow.qzt");

    Init({});
    EXPECT_EQ(Startup().programPath, "");
    EXPECT_EQ(Startup().firstArgument, "");
    EXPECT_EQ(Startup().programFolder, "");
    EXPECT_EQ(Startup().settingsPath, "Quillbarrow.qzt");
}

TEST(StartupFieldsTest, LongTextsAreKeptWholeAndApart)
{
    const std::string longFolder = std::string(5000, 'p') + kSep;
    const std::string longArgument(5000, 'a');
    Init({longFolder + "Quillbarrow", longArgument});
    EXPECT_EQ(Startup().firstArgument, longArgument);
    EXPECT_EQ(Startup().programPath, longFolder + "Quillbarrow");
    EXPECT_EQ(Startup().programFolder, longFolder);
    EXPECT_EQ(Startup().settingsPath, longFolder + "Quillbarrow.qzt");
}

} // namespace
