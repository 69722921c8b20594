// The icon and version block that resources/Quillbarrow.rc puts into the
// executable, read back the way Explorer reads them, from a linked
// Quillbarrow.exe (the instance helper carries the same script).

#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::string HelperProgram()
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length < MAX_PATH ? length : 0);
    return path.substr(0, path.find_last_of("\\/") + 1) + QB_INSTANCE_HELPER;
}

class VersionInfoTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const std::string path = HelperProgram();
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << path << ": no version block, error " << GetLastError();
        block.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    }

    // A string of the Simplified Chinese / Unicode table, or "(missing)".
    std::string Text(const std::string &name)
    {
        const std::string query = "\\StringFileInfo\\080404b0\\" + name;
        char *value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void **>(&value), &length)
            || !value)
            return "(missing)";
        // The length counts the terminating zero, when there is one.
        std::string text(value, length);
        return text.substr(0, text.find('\0'));
    }

    std::vector<char> block;
};

TEST_F(VersionInfoTest, FixedVersionIs1_0_0_10)
{
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(0, 1)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(10, 0)));
    EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(0, 1)));
    EXPECT_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(MAKELONG(10, 0)));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(VersionInfoTest, StringsName1_0_0_10AndTheExecutable)
{
    const std::pair<const char *, const char *> rows[] = {
        {"InternalName", "Quillbarrow.exe"},
        {"OriginalFilename", "Quillbarrow.exe"},
        {"FileVersion", "1.0.0.10"},
        {"ProductVersion", "1.0.0.10"},
        {"ProductName", "Quillbarrow"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Text(row.first), row.second) << row.first;
    EXPECT_EQ(Text("NoSuchEntry"), "(missing)");
}

TEST_F(VersionInfoTest, TranslationIsSimplifiedChineseUnicode)
{
    WORD *pair = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&pair), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(pair[0], 0x0804);
    EXPECT_EQ(pair[1], 1200);
}

#pragma pack(push, 2)
struct IconGroupEntry
{
    BYTE width;
    BYTE height;
    BYTE colors;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
struct IconGroupHeader
{
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

TEST(IconGroupTest, IDI_ICON1HoldsFourSquareImages)
{
    const std::string path = HelperProgram();
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << path;
    HRSRC group = FindResourceA(module, "IDI_ICON1", MAKEINTRESOURCEA(14)); // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto *header = static_cast<const IconGroupHeader *>(LockResource(LoadResource(module, group)));
    ASSERT_NE(header, nullptr);
    ASSERT_GE(SizeofResource(module, group), sizeof *header);
    EXPECT_EQ(header->type, 1); // icons, not cursors
    ASSERT_EQ(header->count, 4);
    ASSERT_GE(SizeofResource(module, group), sizeof *header + 4 * sizeof(IconGroupEntry));

    const auto *entries = reinterpret_cast<const IconGroupEntry *>(header + 1);
    std::set<int> sizes;
    for (int i = 0; i < header->count; ++i) {
        EXPECT_EQ(entries[i].width, entries[i].height);
        sizes.insert(entries[i].width);
        // Each image is there, of the size the group gives.
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(entries[i].id), MAKEINTRESOURCEA(3));
        ASSERT_NE(image, nullptr) << "image " << entries[i].id;
        EXPECT_EQ(SizeofResource(module, image), entries[i].bytes);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 128}));
    FreeLibrary(module);
}

} // namespace
