// The settings file operations, on texts and on files in a temporary folder.
// No Qt here: this source also builds for Windows with MinGW.

#include "app/settingsfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <random>
#else
#include <csignal>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#endif

using namespace std::string_literals;

namespace {

struct GetRow
{
    const char *name;
    std::string text;
    std::string key;
    std::string expected;
};

struct ComposeRow
{
    const char *name;
    std::string text;
    std::string key;
    std::string value;
    std::string expected;
};

// GBK for 照片 and a byte that is never valid UTF-8.
const std::string kGbkPhotos = "\xd5\xd5\xc6\xac";
const std::string kNotUtf8 = "\xff\xfe\x80";

std::string ReadFileBytes(const std::string &path, bool *exists = nullptr)
{
    std::string content;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (exists)
        *exists = file != nullptr;
    if (!file)
        return content;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, got);
    std::fclose(file);
    return content;
}

bool FileExists(const std::string &path)
{
    bool exists = false;
    ReadFileBytes(path, &exists);
    return exists;
}

void WriteFileBytes(const std::string &path, const std::string &content)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size());
    ASSERT_EQ(std::fclose(file), 0);
}

// CR LF lines "k00000=vvvv..." adding up to at least `size` bytes.
std::string ManyLines(std::size_t size)
{
    std::string text;
    char key[16];
    for (int i = 0; text.size() < size; ++i) {
        std::snprintf(key, sizeof key, "k%05d=", i);
        text += key + std::string(40, static_cast<char>('a' + i % 26)) + "\r\n";
    }
    return text;
}

class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifdef _WIN32
        std::random_device random;
        for (int attempt = 0; attempt < 100 && folder_.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path()
                                   / ("qb-settings-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate))
                folder_ = candidate.string();
        }
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "qb-settings-XXXXXX").string();
        if (mkdtemp(&pattern[0]))
            folder_ = pattern;
#endif
        ASSERT_FALSE(folder_.empty()) << "no temporary folder";
    }

    void TearDown() override
    {
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    std::string PathOf(const std::string &name) const
    {
        return (std::filesystem::path(folder_) / name).string();
    }

    std::string folder_;
};

} // namespace

TEST(TrimBlanks, RemovesSpacesAndTabsAtBothEndsOnly)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", ""},
        {" \t  \t", ""},
        {"a", "a"},
        {" \t a b \t ", "a b"},
        {"\ta\t", "a"},
        {"\r\na\r\n", "\r\na\r\n"},
        {" \r\n ", "\r\n"},
        {"  " + kGbkPhotos + " ", kGbkPhotos},
    };
    for (const auto &row : rows) {
        std::string text = row.first;
        TrimBlanks(text);
        EXPECT_EQ(text, row.second) << "input [" << row.first << "]";
    }
}

TEST(GetSettingValue, FindsTheValueOfTheFirstKeyOccurrence)
{
    const std::vector<GetRow> rows = {
        {"plain", "sourcePath=D:\\Photos\r\n", "sourcePath", "D:\\Photos"},
        {"blanks around the value", "sourcePath=  D:\\Photos \t\r\n", "sourcePath", "D:\\Photos"},
        {"no line end", "sourcePath=D:\\Photos", "sourcePath", ""},
        {"LF is no line end", "sourcePath=D:\\Photos\n", "sourcePath", ""},
        {"value runs to CR LF", "sourcePath=a\nb\rc\r\nx=1\r\n", "sourcePath", "a\nb\rc"},
        {"empty value", "sourcePath=\r\n", "sourcePath", ""},
        {"absent key", "a=1\r\nb=2\r\n", "sourcePath", ""},
        {"empty text", "", "sourcePath", ""},
        {"case-sensitive key", "SourcePath=x\r\n", "sourcePath", ""},
        {"key without =", "sourcePath x\r\n", "sourcePath", ""},
        {"middle line", "a=1\r\nsourcePath=mid\r\nb=2\r\n", "sourcePath", "mid"},
        {"substring of a longer key", "mysourcePath=x\r\nsourcePath=y\r\n", "sourcePath", "x"},
        {"inside a value", "a=sourcePath=z\r\n", "sourcePath", "z"},
        {"first of two entries", "sourcePath=one\r\nsourcePath=two\r\n", "sourcePath", "one"},
        {"text starting with blanks", " \t sourcePath=x\r\n", "sourcePath", "x"},
        {"blank-led key against the trimmed text", "  x=1\r\n", " x", ""},
        {"zero byte ends the text", "a=1\r\n\0sourcePath=x\r\n"s, "sourcePath", ""},
        {"zero byte before the line end", "sourcePath=ab\0c\r\n"s, "sourcePath", ""},
        {"zero byte ends the key", "sourcePath=x\r\n", "sourcePath\0junk"s, "x"},
        {"bytes that are not UTF-8", "sourcePath=D:\\" + kGbkPhotos + kNotUtf8 + "\r\n", "sourcePath",
         "D:\\" + kGbkPhotos + kNotUtf8},
        {"key that is not UTF-8", kGbkPhotos + "=1\r\n", kGbkPhotos, "1"},
    };
    for (const GetRow &row : rows) {
        std::string value = "stale";
        GetSettingValue(value, row.text, row.key);
        EXPECT_EQ(value, row.expected) << row.name;
    }
}

TEST(ComposeSettingsText, ReplacesTheEntryInPlaceOrPutsItFirst)
{
    const std::vector<ComposeRow> rows = {
        {"new key goes first", "a=1\r\nb=2\r\n", "sourcePath", "X", "sourcePath=X\r\na=1\r\nb=2\r\n"},
        {"empty text", "", "sourcePath", "X", "sourcePath=X\r\n"},
        {"replaced in place", "a=1\r\nsourcePath=old\r\nb=2\r\n", "sourcePath", "new",
         "a=1\r\nsourcePath=new\r\nb=2\r\n"},
        {"first line replaced", "sourcePath=old\r\nb=2\r\n", "sourcePath", "new",
         "sourcePath=new\r\nb=2\r\n"},
        {"unterminated last entry", "a=1\r\nsourcePath=old", "sourcePath", "new",
         "a=1\r\nsourcePath=new\r\n"},
        {"empty value", "sourcePath=old\r\n", "sourcePath", "", "sourcePath=\r\n"},
        {"value kept with its blanks", "", "sourcePath", " x\t", "sourcePath= x\t\r\n"},
        {"occurrence inside a longer key", "mysourcePath=x\r\nsourcePath=y\r\n", "sourcePath", "new",
         "mysourcePath=new\r\nsourcePath=y\r\n"},
        {"only the first of two entries", "sourcePath=one\r\nsourcePath=two\r\n", "sourcePath", "new",
         "sourcePath=new\r\nsourcePath=two\r\n"},
        {"leading blanks dropped", " \t a=1\r\n", "sourcePath", "X", "sourcePath=X\r\na=1\r\n"},
        {"trailing blanks dropped", "a=1\r\n \t", "sourcePath", "X", "sourcePath=X\r\na=1\r\n"},
        {"LF-only lines are one line", "a=1\nsourcePath=old\nb=2\r\nc=3\r\n", "sourcePath", "new",
         "a=1\nsourcePath=new\r\nc=3\r\n"},
        {"zero byte ends the text", "a=1\r\n\0b=2\r\n"s, "sourcePath", "X", "sourcePath=X\r\na=1\r\n"},
        {"zero byte ends the value", "", "sourcePath", "ab\0cd"s, "sourcePath=ab\r\n"},
        {"zero byte ends the key", "sourcePath=old\r\n", "sourcePath\0x"s, "new", "sourcePath=new\r\n"},
        {"other bytes kept as they are", "a=" + kNotUtf8 + "\r\nsourcePath=old\r\n", "sourcePath",
         kGbkPhotos, "a=" + kNotUtf8 + "\r\nsourcePath=" + kGbkPhotos + "\r\n"},
    };
    for (const ComposeRow &row : rows) {
        std::string result = "stale";
        ComposeSettingsText(result, row.text, row.key, row.value);
        EXPECT_EQ(result, row.expected) << row.name;
    }
}

TEST(ComposeSettingsText, ComposedValueReadsBack)
{
    const std::string texts[] = {"", "a=1\r\nb=2\r\n", "a=1\r\nsourcePath=old", "  x=sourcePath=\r\n"};
    const std::string values[] = {"", "D:\\Photos\\", " padded \t", std::string(5000, 'v'), kGbkPhotos};
    for (const std::string &text : texts) {
        for (const std::string &value : values) {
            std::string composed, back;
            ComposeSettingsText(composed, text, "sourcePath", value);
            GetSettingValue(back, composed, "sourcePath");
            std::string trimmed = value;
            TrimBlanks(trimmed);
            EXPECT_EQ(back, trimmed) << "text [" << text << "] value [" << value << "]";
        }
    }
}

TEST(ComposeSettingsText, OutputMayBeTheInput)
{
    std::string text = "a=1\r\nsourcePath=old\r\n";
    ComposeSettingsText(text, text, "sourcePath", "new");
    EXPECT_EQ(text, "a=1\r\nsourcePath=new\r\n");

    std::string value = "sourcePath";
    ComposeSettingsText(value, "x=1\r\n", value, value);
    EXPECT_EQ(value, "sourcePath=sourcePath\r\nx=1\r\n");

    std::string same = "sourcePath=D:\\x\r\n";
    GetSettingValue(same, same, "sourcePath");
    EXPECT_EQ(same, "D:\\x");
}

TEST(ComposeSettingsText, LongKeysAndValues)
{
    const std::string key(2000, 'K');
    const std::string value(30000, 'V');
    const std::string text = ManyLines(25000);
    std::string composed;
    ComposeSettingsText(composed, text, key, value);
    EXPECT_EQ(composed, key + "=" + value + "\r\n" + text);

    std::string back;
    GetSettingValue(back, composed, key);
    EXPECT_EQ(back, value);
}

TEST_F(SettingsFileTest, LoadReadsTheWholeFileExactly)
{
    const std::string content = "sourcePath=D:\\" + kGbkPhotos + "\r\n\0tail"s + kNotUtf8 + ManyLines(30000);
    const std::string path = PathOf("Quillbarrow.qzt");
    WriteFileBytes(path, content);

    std::string buffer = "previous content, longer than nothing";
    ASSERT_EQ(LoadSettingsText(buffer, path), 0);
    EXPECT_EQ(buffer.size(), content.size());
    EXPECT_EQ(buffer, content);

    std::string value;
    GetSettingValue(value, buffer, "sourcePath");
    EXPECT_EQ(value, "D:\\" + kGbkPhotos);
    GetSettingValue(value, buffer, "k00000");
    EXPECT_EQ(value, "") << "text after a zero byte is not looked at";

    WriteFileBytes(path, "");
    ASSERT_EQ(LoadSettingsText(buffer, path), 0);
    EXPECT_EQ(buffer, "");
}

TEST_F(SettingsFileTest, LoadFailureLeavesTheBufferUntouched)
{
    WriteFileBytes(PathOf("real"), "a=1\r\n");
    const std::string paths[] = {
        PathOf("missing.qzt"),
        folder_,                       // opens on some systems, but can't be read
        PathOf("real") + "\0x"s,       // must not fall back to "real"
        "",
    };
    for (const std::string &path : paths) {
        std::string buffer = "keep";
        EXPECT_EQ(LoadSettingsText(buffer, path), -1) << path;
        EXPECT_EQ(buffer, "keep") << path;
    }
}

TEST_F(SettingsFileTest, SetRewritesTheFile)
{
    const std::vector<ComposeRow> rows = {
        {"shipped file", "sourcePath=\r\n", "sourcePath", "D:\\Photos\\", "sourcePath=D:\\Photos\\\r\n"},
        {"new key first", "a=1\r\nb=2\r\n", "sourcePath", "X", "sourcePath=X\r\na=1\r\nb=2\r\n"},
        {"in place", "a=1\r\nsourcePath=old\r\nb=2\r\n", "sourcePath", "new",
         "a=1\r\nsourcePath=new\r\nb=2\r\n"},
        {"unterminated entry", "a=1\r\nsourcePath=old", "sourcePath", "new", "a=1\r\nsourcePath=new\r\n"},
        {"inside a longer key", "mysourcePath=x\r\nsourcePath=y\r\n", "sourcePath", "new",
         "mysourcePath=new\r\nsourcePath=y\r\n"},
        {"leading blanks gone", "  \t a=1\r\n", "sourcePath", "X", "sourcePath=X\r\na=1\r\n"},
        {"empty file", "", "sourcePath", "X", "sourcePath=X\r\n"},
        {"bytes that are not UTF-8 survive", "a=" + kNotUtf8 + "\r\n" + kGbkPhotos + "=2\r\n", "sourcePath",
         "D:\\" + kGbkPhotos, "sourcePath=D:\\" + kGbkPhotos + "\r\na=" + kNotUtf8 + "\r\n" + kGbkPhotos + "=2\r\n"},
        // The text ends at a zero byte; what follows it is no setting.
        {"zero byte", "a=1\r\n\0b=2\r\n"s, "sourcePath", "X", "sourcePath=X\r\na=1\r\n"},
        {"unchanged", "a=1\r\nsourcePath=same\r\n", "sourcePath", "same", "a=1\r\nsourcePath=same\r\n"},
    };
    const std::string path = PathOf("Quillbarrow.qzt");
    for (const ComposeRow &row : rows) {
        WriteFileBytes(path, row.text);
        EXPECT_EQ(SetSettingValue(path, row.key, row.value), 0) << row.name;
        EXPECT_EQ(ReadFileBytes(path), row.expected) << row.name;
    }
}

TEST_F(SettingsFileTest, SetKeepsEverythingOfALargeFile)
{
    const std::string head = ManyLines(30000);
    ASSERT_GT(head.size(), 20480u);
    const std::string path = PathOf("Quillbarrow.qzt");

    WriteFileBytes(path, head);
    ASSERT_EQ(SetSettingValue(path, "sourcePath", "X"), 0);
    EXPECT_EQ(ReadFileBytes(path), "sourcePath=X\r\n" + head);

    // An entry beyond the first 20480 bytes is found and replaced in place.
    WriteFileBytes(path, head + "sourcePath=old\r\nlast=1\r\n");
    ASSERT_EQ(SetSettingValue(path, "sourcePath", "new"), 0);
    EXPECT_EQ(ReadFileBytes(path), head + "sourcePath=new\r\nlast=1\r\n");

    std::string text, value;
    ASSERT_EQ(LoadSettingsText(text, path), 0);
    GetSettingValue(value, text, "last");
    EXPECT_EQ(value, "1");
}

TEST_F(SettingsFileTest, SetLongKeyAndValue)
{
    const std::string key(1500, 'k');
    const std::string value = std::string(3000, 'v') + kGbkPhotos;
    const std::string path = PathOf("Quillbarrow.qzt");
    WriteFileBytes(path, "a=1\r\n");

    ASSERT_EQ(SetSettingValue(path, key, value), 0);
    EXPECT_EQ(ReadFileBytes(path), key + "=" + value + "\r\na=1\r\n");
    ASSERT_EQ(SetSettingValue(path, key, "short"), 0);
    EXPECT_EQ(ReadFileBytes(path), key + "=short\r\na=1\r\n");
}

TEST_F(SettingsFileTest, SetFailsWithoutCreatingOrChangingAFile)
{
    const std::string missing = PathOf("Quillbarrow.qzt");
    EXPECT_EQ(SetSettingValue(missing, "sourcePath", "X"), -1);
    EXPECT_FALSE(FileExists(missing));

    std::string text = "keep", value = "stale";
    EXPECT_EQ(LoadSettingsText(text, missing), -1);
    GetSettingValue(value, "", "sourcePath");
    EXPECT_EQ(value, "");

    EXPECT_EQ(SetSettingValue(PathOf("no-folder") + "/Quillbarrow.qzt", "sourcePath", "X"), -1);
    EXPECT_FALSE(std::filesystem::exists(PathOf("no-folder")));

    EXPECT_EQ(SetSettingValue(folder_, "sourcePath", "X"), -1);
    EXPECT_TRUE(std::filesystem::is_directory(folder_));

    const std::string real = PathOf("real");
    WriteFileBytes(real, "a=1\r\n");
    EXPECT_EQ(SetSettingValue(real + "\0x"s, "sourcePath", "X"), -1);
    EXPECT_EQ(ReadFileBytes(real), "a=1\r\n");
}

// Setting the value already there leaves the file alone: no window in which
// a failed write could hurt it.
TEST_F(SettingsFileTest, SetWithoutChangeDoesNotWrite)
{
    const std::string path = PathOf("Quillbarrow.qzt");
    WriteFileBytes(path, "a=1\r\nsourcePath=D:\\x\r\n");
    const auto past = std::filesystem::last_write_time(path) - std::chrono::hours(24);
    std::filesystem::last_write_time(path, past);

    ASSERT_EQ(SetSettingValue(path, "sourcePath", "D:\\x"), 0);
    EXPECT_EQ(std::filesystem::last_write_time(path), past);
    ASSERT_EQ(SetSettingValue(path, "sourcePath", "D:\\y"), 0);
    EXPECT_NE(std::filesystem::last_write_time(path), past);
    EXPECT_EQ(ReadFileBytes(path), "a=1\r\nsourcePath=D:\\y\r\n");
}

#ifdef __linux__
// Never read whole, so never rewritten.
TEST(SettingsFileDevices, EndlessStreamIsRefused)
{
    std::string buffer = "keep";
    EXPECT_EQ(LoadSettingsText(buffer, "/dev/zero"), -1);
    EXPECT_EQ(buffer, "keep");
    EXPECT_EQ(SetSettingValue("/dev/zero", "sourcePath", "X"), -1);
}

// What `call` returns, or -2 when it has not returned within a few seconds
// (then it is left blocked; the process ends it on exit).
int WithinSeconds(std::function<int()> call)
{
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> answer = result->get_future();
    std::thread([result, call] { result->set_value(call()); }).detach();
    return answer.wait_for(std::chrono::seconds(3)) == std::future_status::ready ? answer.get()
                                                                                  : -2;
}

// A FIFO or a device at the settings path is refused at once, as a missing
// file is: no value read from it, nothing written to it, no wait for a writer.
TEST_F(SettingsFileTest, FifoOrDeviceIsRefusedAtOnce)
{
    const std::string fifo = PathOf("Quillbarrow.qzt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, "/dev/null"s}) {
        auto buffer = std::make_shared<std::string>("keep");
        EXPECT_EQ(WithinSeconds([=] { return LoadSettingsText(*buffer, path); }), -1) << path;
        EXPECT_EQ(WithinSeconds([=] { return SetSettingValue(path, "sourcePath", "X"); }), -1)
            << path;
    }
    struct stat info;
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A write that comes up short after the file was truncated: the old text goes
// back and the set reports failure.
TEST_F(SettingsFileTest, ShortWriteRestoresTheOldText)
{
    const std::string original = "a=1\r\nsourcePath=old\r\nb=" + kNotUtf8 + "\r\n";
    const std::string path = PathOf("Quillbarrow.qzt");
    WriteFileBytes(path, original);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 4096)
        GTEST_SKIP() << "file size limit already below the test's";
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    const int tooLong = SetSettingValue(path, "sourcePath", std::string(10000, 'x'));
    const int fits = SetSettingValue(path, "b", "2");

    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(tooLong, -1);
    EXPECT_EQ(fits, 0);
    EXPECT_EQ(ReadFileBytes(path), "a=1\r\nsourcePath=old\r\nb=2\r\n");
}
#endif
