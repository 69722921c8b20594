#include "app/startup.h"
#include "platform/programfolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include "app/settingsfile.h"
#include "tests/support/tempdir.h"

#include <cstdio>
#include <filesystem>

#include <windows.h>
#endif

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

#ifdef _WIN32
// The 8-bit text the C runtime makes of a wide one for argv: the code page's
// characters, '?' or a best-fit look-alike for the others.
std::string AsTheRuntimeGivesIt(const std::wstring &wide, unsigned codePage)
{
    const int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0], size,
                        nullptr, nullptr);
    return narrow;
}

bool HasExactForm(const std::wstring &wide, unsigned codePage)
{
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        nullptr, 0, nullptr, &usedDefault);
    return !usedDefault;
}

// Program folders named with characters the code page lacks, each holding a
// settings file that says which folder it is in.
class ProgramFolderNameTest : public testing::Test
{
protected:
    std::wstring MakeFolder(const std::wstring &name)
    {
        const std::filesystem::path folder =
            std::filesystem::path(dir.path()).make_preferred() / name;
        std::filesystem::create_directory(folder);
        std::FILE *file = _wfopen((folder / L"Quillbarrow.qzt").c_str(), L"wb");
        EXPECT_NE(file, nullptr);
        if (file) {
            const std::string text = "sourcePath=" + folder.filename().u8string() + "\r\n";
            std::fwrite(text.data(), 1, text.size(), file);
            std::fclose(file);
        }
        return folder.wstring() + L"\\";
    }

    static std::string SettingsIn(const std::string &path)
    {
        std::string text;
        if (LoadSettingsText(text, path) != 0)
            return "(none)";
        std::string value;
        GetSettingValue(value, text, "sourcePath");
        return value;
    }

    TempDir dir;
};

TEST_F(ProgramFolderNameTest, FolderTheCodePageLacksComesFromTheModulePath)
{
    // A Hangul syllable: neither GBK nor the Western code page has it.
    const std::wstring name = L"\uD55C\uAE00";
    if (HasExactForm(name, CP_ACP))
        GTEST_SKIP() << "the local code page holds the test's folder name";
    const std::wstring modulePath = MakeFolder(name) + L"Quillbarrow.exe";
    std::string argv0 = AsTheRuntimeGivesIt(modulePath, CP_ACP);
    char *argv[] = {&argv0[0], nullptr};

    InitStartupFields(1, argv, [&](const std::string &argv0, std::string &folder) {
        return ProgramFolderFor(argv0, modulePath, CP_ACP, folder);
    });
    EXPECT_EQ(Startup().programPath, argv0);
    EXPECT_NE(Startup().programFolder, ProgramFolderOf(argv0, '\\'));
    EXPECT_EQ(Startup().settingsPath, Startup().programFolder + "Quillbarrow.qzt");
    // The settings file in the folder itself, read through the 8-bit path.
    EXPECT_EQ(SettingsIn(Startup().settingsPath), std::filesystem::path(name).u8string());

    // A folder with no 8-bit name, not even a short one: no settings file is
    // named, so none other is read or written.
    const std::wstring nowhere = std::filesystem::path(dir.path()).make_preferred().wstring()
                                 + L"\\missing\\" + name + L"\\Quillbarrow.exe";
    argv0 = AsTheRuntimeGivesIt(nowhere, CP_ACP);
    argv[0] = &argv0[0];
    InitStartupFields(1, argv, [&](const std::string &argv0, std::string &folder) {
        return ProgramFolderFor(argv0, nowhere, CP_ACP, folder);
    });
    EXPECT_EQ(Startup().programFolder, "");
    EXPECT_EQ(Startup().settingsPath, "");
    EXPECT_EQ(SettingsIn(Startup().settingsPath), "(none)");
}

TEST_F(ProgramFolderNameTest, LookAlikeFolderIsNeverTaken)
{
    // The Western code page writes A-macron as a plain A.
    const unsigned western = 1252;
    const std::wstring name = L"\u0100";
    const std::wstring modulePath = MakeFolder(name) + L"Quillbarrow.exe";
    const std::wstring lookAlike = MakeFolder(L"A") + L"Quillbarrow.exe";
    const std::string argv0 = AsTheRuntimeGivesIt(modulePath, western);
    ASSERT_EQ(argv0, AsTheRuntimeGivesIt(lookAlike, western));

    std::string folder;
    ASSERT_TRUE(ProgramFolderFor(argv0, modulePath, western, folder));
    EXPECT_EQ(SettingsIn(folder + "Quillbarrow.qzt"), std::filesystem::path(name).u8string());

    // The look-alike's own start, and any path the code page holds, keeps argv[0].
    ASSERT_TRUE(ProgramFolderFor(argv0, lookAlike, western, folder));
    EXPECT_EQ(folder, ProgramFolderOf(argv0, '\\'));
    EXPECT_EQ(SettingsIn(folder + "Quillbarrow.qzt"), "A");
    ASSERT_TRUE(ProgramFolderFor("Quillbarrow.exe", modulePath, western, folder));
    EXPECT_EQ(folder, "");
}
#endif

} // namespace
