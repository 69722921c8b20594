// The file system's rules as the dry run's copy reads them, each checked
// against what the file system itself then does.

#include "platform/folderlisting.h"
#include "platform/nativepath.h"
#include "platform/entryidentity.h"
#include "platform/diskentry.h"
#include "platform/pathchecks.h"
#include "platform/openfolder.h"
#include "platform/storedname.h"

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

bool Create(const std::string &path)
{
    std::ofstream file(fs::u8path(path));
    return file.good();
}

// Windows separates by "\" too: the same rules, other expectations.
bool BackslashSeparates()
{
    return IsNativeSeparator('\\');
}

// File ids as systems give them (Microsoft's documentation of FILE_ID_INFO
// and of SMB servers): ReFS needs all 128 bits to tell files apart, and a
// server without file ids answers 0 or all ones for every entry. Such
// entries are told apart by their final paths, asked for only then.
TEST(EntryIdentity, FileIdsTellEntriesApartAndNoIdFallsBackToTheFinalPath)
{
    unsigned char low[16] = {0x2A}, high[16] = {0x2A};
    high[8] = 1; // the same low 64 bits, another high half
    int asked = 0;
    const auto path = [&asked](const char *final) {
        return [&asked, final](std::string &out) {
            ++asked;
            out = final;
            return *final != '\0';
        };
    };
    EntryIdentity a, b, c;
    ASSERT_TRUE(IdentityFromFileId(7, low, 16, path("C:/a"), a));
    ASSERT_TRUE(IdentityFromFileId(7, high, 16, path("C:/a"), b));
    EXPECT_EQ(asked, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.index, 0x2Au);
    EXPECT_EQ(b.indexHigh, 1u);
    EXPECT_TRUE(a.Known() && !a.ByPath());
    ASSERT_TRUE(IdentityFromFileId(8, low, 16, path("C:/a"), c));
    EXPECT_NE(a, c); // another volume

    const unsigned char zeros[16] = {};
    unsigned char ones[16];
    std::memset(ones, 0xFF, sizeof ones);
    EntryIdentity x, y, z;
    const unsigned char *const noIds[] = {zeros, ones};
    for (const unsigned char *none : noIds)
        for (std::size_t size : {std::size_t(8), std::size_t(16)}) {
            ASSERT_TRUE(IdentityFromFileId(7, none, size, path("//s/share/x"), x));
            ASSERT_TRUE(IdentityFromFileId(7, none, size, path("//s/share/y"), y));
            ASSERT_TRUE(IdentityFromFileId(7, zeros, 16, path("//s/share/x"), z));
            EXPECT_TRUE(x.ByPath() && x.Known());
            EXPECT_NE(x, y); // not every folder one and the same
            EXPECT_EQ(x, z);
            EXPECT_EQ(EntryIdentityHash()(x), EntryIdentityHash()(z));
            EXPECT_FALSE(IdentityFromFileId(7, none, size, path(""), x)); // nothing to go by
        }
    EXPECT_EQ(asked, 4 * 4);
}

TEST(DiskEntry, TellsKindAndIdentityWithoutFollowingALink)
{
    TempDir dir;
    ASSERT_TRUE(Create(dir / "file"));
    fs::create_directory(fs::u8path(dir / "folder"));
    DiskEntry entry;
    ASSERT_TRUE(ReadDiskEntry(dir / "file", entry));
    EXPECT_EQ(entry.kind, DirEntryKind::File);
    EntryIdentity file;
    ASSERT_TRUE(IdentifyEntryItself(dir / "file", file));
    EXPECT_TRUE(entry.identity == file);
    EXPECT_TRUE(entry.actsAsOwner); // made by this process
    ASSERT_TRUE(ReadDiskEntry(dir / "folder", entry));
    EXPECT_EQ(entry.kind, DirEntryKind::Folder);
    EXPECT_FALSE(ReadDiskEntry(dir / "missing", entry));

    std::error_code error;
    fs::create_symlink("file", fs::u8path(dir / "link"), error);
    if (error)
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    ASSERT_TRUE(ReadDiskEntry(dir / "link", entry));
    EXPECT_EQ(entry.kind, DirEntryKind::Link);
    EXPECT_FALSE(entry.identity == file);
}

// The copy mixes entries read one by one with whole listings: both must
// tell an entry alike.
TEST(DiskEntry, AgreesWithTheFoldersListing)
{
    TempDir dir;
    ASSERT_TRUE(Create(dir / "file"));
    ASSERT_TRUE(Create(dir / ".dotted"));
    ASSERT_TRUE(Create(dir / "shortcut.lnk"));
    fs::create_directory(fs::u8path(dir / "folder"));
    fs::create_directory(fs::u8path(dir / ".dotted folder"));
    std::error_code error;
    fs::create_symlink("file", fs::u8path(dir / "link"), error);
    fs::create_directory_symlink("folder", fs::u8path(dir / "folder link"), error);
    fs::create_symlink("nowhere", fs::u8path(dir / "dangling"), error);
    DirListing listing;
    EntryIdentity identity;
    ASSERT_TRUE(ReadFolder(dir.path(), identity, listing));
    ASSERT_GE(listing.entries.size(), 5u);
    for (const DirListing::Entry &listed : listing.entries) {
        const std::string name(listing.Name(listed), listed.nameSize);
        DiskEntry entry;
        ASSERT_TRUE(ReadDiskEntry(dir / name, entry)) << name;
        EXPECT_EQ(entry.kind, listed.kind) << name;
        EXPECT_EQ(entry.hidden, listed.hidden) << name;
    }
}

TEST(DiskEntry, ReadsWhatALinkStores)
{
    TempDir dir;
    ASSERT_TRUE(Create(dir / "file"));
    std::string text;
    int error = 0;
    EXPECT_EQ(ReadLinkText(dir / "file", text, error), LinkTextStatus::Unreadable);
    EXPECT_NE(error, 0);
    EXPECT_EQ(ReadLinkText(dir / "missing", text, error), LinkTextStatus::Unreadable);

    // Relative (a name that needs no room check) and long absolute texts.
    const std::string sep = BackslashSeparates() ? "\\" : "/";
    std::string deep = dir.path();
    for (char &c : deep)
        if (IsNativeSeparator(c))
            c = sep[0];
    for (int i = 0; i < 40; ++i)
        deep += sep + "a-long-name-past-the-first-buffer";
    for (const std::string &stored : {std::string("..") + sep + "elsewhere", deep}) {
        std::error_code made;
        fs::remove(fs::u8path(dir / "link"), made);
        fs::create_symlink(fs::u8path(stored), fs::u8path(dir / "link"), made);
        if (made)
            GTEST_SKIP() << "no symbolic links here: " << made.message();
        ASSERT_EQ(ReadLinkText(dir / "link", text, error), LinkTextStatus::Read) << error;
        EXPECT_EQ(text, stored);
    }
}

TEST(DiskEntry, SeesAStickyFolderAsTheSystemShowsIt)
{
    TempDir dir;
    const fs::path folder = fs::u8path(dir / "shared");
    fs::create_directory(folder);
    DiskEntry entry;
    ASSERT_TRUE(ReadDiskEntry(dir / "shared", entry));
    EXPECT_FALSE(entry.ownersOnly);
    std::error_code error;
    fs::permissions(folder, fs::perms::sticky_bit, fs::perm_options::add, error);
    const bool sticky = (fs::status(folder).permissions() & fs::perms::sticky_bit) != fs::perms::none;
    ASSERT_TRUE(ReadDiskEntry(dir / "shared", entry));
    EXPECT_EQ(entry.ownersOnly, sticky);
    EXPECT_TRUE(entry.actsAsOwner);
}

// A name as long as the limit can be made, one unit more can't; in bytes
// where names are bytes, in UTF-16 units where the system counts those.
TEST(DiskEntry, LongestNameIsTheFileSystemsLimit)
{
    TempDir dir;
    const std::size_t longest = LongestNameIn(dir.path() + "/");
    if (longest == 0)
        GTEST_SKIP() << "no limit told";
    for (const std::string &unit : {std::string("x"), std::string("\xc3\xa9")}) {
        std::string name;
        while (NameLength(name + unit) <= longest)
            name += unit;
        if (NameLength(name) < longest)
            name += "x"; // "é" is 2 bytes: fill the last one
        ASSERT_EQ(NameLength(name), longest);
        if (BackslashSeparates() && unit.size() > 1 && !Create(dir / name))
            GTEST_SKIP() << "the file system under this Windows counts bytes, not units (Wine "
                            "on a POSIX file system)";
        EXPECT_TRUE(Create(dir / name)) << name.size();
        EXPECT_FALSE(Create(dir / (name + unit))) << name.size();
    }
    EXPECT_EQ(NameLength("\xc3\xa9"), BackslashSeparates() ? 1u : 2u);
}

TEST(DiskEntry, FolderWritableAsCreatingInItTells)
{
    TempDir dir;
    EXPECT_TRUE(FolderWritable(dir.path()));
    const fs::path closed = fs::u8path(dir / "closed");
    fs::create_directory(closed);
    fs::permissions(closed, fs::perms::owner_read | fs::perms::owner_exec);
    // Root may write anyway; the file system decides either way.
    const bool made = Create(dir / "closed/probe");
    EXPECT_EQ(FolderWritable(dir / "closed"), made);
    fs::permissions(closed, fs::perms::owner_all);
    EXPECT_FALSE(FolderWritable(dir / "missing"));
}

TEST(DiskEntry, CurrentFolderIsTheProcesssOne)
{
    std::string path;
    ASSERT_TRUE(CurrentFolderPath(path));
    EXPECT_GT(RootLength(path), 0u);
    EXPECT_TRUE(fs::equivalent(fs::u8path(path), fs::current_path()));
}

struct RootCase
{
    const char *path;
    std::size_t posix;
    std::size_t windows;
};

TEST(DiskEntry, RootLengthOfEachForm)
{
    const RootCase cases[] = {
        {"/", 1, 1},
        {"/usr/lib", 1, 1},
        {"a/b", 0, 0},
        {"", 0, 0},
        {"C:\\Users\\x", 0, 3},
        {"c:/x", 0, 3},
        {"C:x", 0, 0},                    // relative to C:'s current folder
        {"\\\\host\\share\\x", 0, 13},
        {"//host/share", 1, 12},
        {"\\\\?\\C:\\x", 0, 7},
        {"\\\\?\\UNC\\host\\share\\x", 0, 19},
        {"\\\\?\\Volume{1}\\x", 0, 14},
        {"\\x", 0, 1},                     // the current drive's root
    };
    for (const RootCase &row : cases) {
        const std::size_t expected = BackslashSeparates() ? row.windows : row.posix;
        EXPECT_EQ(RootLength(row.path), expected) << row.path;
    }
    TempDir dir;
    const std::size_t length = RootLength(dir.path());
    ASSERT_GT(length, 0u);
    EntryIdentity root;
    EXPECT_TRUE(IdentifyEntry(dir.path().substr(0, length), root));
}

#ifdef _WIN32
// Entries made exactly as named, as another system stores them on NTFS:
// Win32's own path rules would drop a final dot or space.
std::wstring Exact(const std::string &path)
{
    std::wstring wide = fs::u8path(path).wstring();
    for (wchar_t &c : wide)
        if (c == L'/')
            c = L'\\';
    return L"\\\\?\\" + wide;
}

bool MakeExact(const std::string &path, const char *text)
{
    HANDLE file = CreateFileW(Exact(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE
        && WriteFile(file, text, DWORD(std::strlen(text)), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

std::string ReadExact(const std::string &path)
{
    HANDLE file = CreateFileW(Exact(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[64];
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(file);
    return std::string(buffer, got);
}

TEST(WindowsPaths, NamesEndingInADotOrASpaceAreTakenAsStored)
{
    TempDir dir;
    const std::string folder = dir / "td";
    ASSERT_TRUE(CreateDirectoryW(Exact(folder).c_str(), nullptr));
    ASSERT_TRUE(MakeExact(folder + "/a.", "dotted"));
    ASSERT_TRUE(MakeExact(folder + "/a", "plain"));
    ASSERT_TRUE(CreateDirectoryW(Exact(folder + "/sub.").c_str(), nullptr));
    ASSERT_TRUE(MakeExact(folder + "/sub./in.txt", "in"));
    ASSERT_TRUE(MakeExact(folder + "/b ", "spaced"));

    OpenFolder open;
    EntryIdentity identity;
    ASSERT_TRUE(open.Open(folder, identity));
    EXPECT_TRUE(open.Rename("a.", "a_").Succeeded());
    EXPECT_EQ(ReadExact(folder + "/a"), "plain");
    EXPECT_EQ(ReadExact(folder + "/a_"), "dotted");
    EXPECT_TRUE(open.Rename("b ", "b_").Succeeded());
    EXPECT_EQ(ReadExact(folder + "/b_"), "spaced");
    // The folder "sub." is read, not some "sub".
    DirListing listing;
    EntryIdentity sub;
    ASSERT_TRUE(ReadFolder(folder + "/sub.", sub, listing));
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_STREQ(listing.Name(listing.entries[0]), "in.txt");
    EXPECT_FALSE(listing.unreadable);
    DiskEntry entry;
    EXPECT_TRUE(ReadDiskEntry(folder + "/sub./in.txt", entry));
    open.Close();
    for (const char *name : {"/sub./in.txt", "/a", "/a_", "/b_"})
        DeleteFileW(Exact(folder + name).c_str());
    RemoveDirectoryW(Exact(folder + "/sub.").c_str());
}

TEST(WindowsPaths, PathsPastMaxPathAreReadAndRenamedIn)
{
    TempDir dir;
    std::string folder = dir.path();
    while (folder.size() < 700) {
        folder += "/" + std::string(60, 'd');
        ASSERT_TRUE(CreateDirectoryW(Exact(folder).c_str(), nullptr)) << folder.size();
    }
    ASSERT_TRUE(MakeExact(folder + "/old.txt", "deep"));
    EXPECT_TRUE(FolderPathFits(folder + "/"));
    DirListing listing;
    EntryIdentity identity;
    ASSERT_TRUE(ReadFolder(folder, identity, listing));
    ASSERT_EQ(listing.entries.size(), 1u);
    OpenFolder open;
    ASSERT_TRUE(open.Open(folder, identity));
    EXPECT_TRUE(open.Rename("old.txt", "new.txt").Succeeded());
    EXPECT_EQ(ReadExact(folder + "/new.txt"), "deep");
    open.Close();
    DeleteFileW(Exact(folder + "/new.txt").c_str());
    for (; folder.size() > dir.path().size(); folder.resize(folder.rfind('/')))
        RemoveDirectoryW(Exact(folder).c_str());
}

// Microsoft's path rules: "C:" alone is the current folder on drive C, and
// "C:/" its root. The folder a job checks and scans is the one the first
// names, so it is no root; the second is refused.
TEST(WindowsPaths, ADriveAloneIsItsCurrentFolder)
{
    TempDir dir;
    const std::string drive = dir.path().substr(0, 2);
    ASSERT_EQ(drive[1], ':');
    wchar_t saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(fs::u8path(dir.path()).wstring().c_str()));
    std::string current, folder, root;
    const bool resolved = FinalPathOf(drive, current);
    SetCurrentDirectoryW(saved);
    ASSERT_TRUE(resolved);
    ASSERT_TRUE(FinalPathOf(dir.path(), folder));
    EXPECT_EQ(current, folder);
    EXPECT_FALSE(IsSystemRoot(current));
    ASSERT_TRUE(FinalPathOf(drive + "/", root));
    EXPECT_TRUE(IsSystemRoot(root));
}

TEST(WindowsPaths, SuperscriptPortNumbersAreDevices)
{
    std::string stored;
    for (const char *name : {"COM\xC2\xB9", "lpt\xC2\xB2.txt", "COM\xC2\xB3"})
        EXPECT_FALSE(StoredNameOf(name, stored)) << name;
    EXPECT_TRUE(StoredNameOf("COM\xC2\xBC", stored)); // one quarter is no digit
}
#endif

} // namespace
