#include "engine/passfilesystem.h"

#include "platform/pathchecks.h"

PassFileSystem::~PassFileSystem() = default;

bool DiskFileSystem::Identify(const std::string &path, EntryIdentity &identity)
{
    return IdentifyEntry(path, identity);
}

bool DiskFileSystem::ListFolder(const std::string &path, EntryIdentity &identity,
                                DirListing &listing)
{
    return ReadFolder(path, identity, listing);
}

bool DiskFileSystem::FinalPath(const std::string &path, std::string &final)
{
    return FinalPathOf(path, final);
}

TextFileStatus DiskFileSystem::CreateNewFile(const std::string &folder, const std::string &name,
                                             const std::vector<std::string> &blocks)
{
    return CreateTextFile(folder, name, blocks);
}

bool DiskFileSystem::RemoveReport(const std::string &folder, const std::string &name)
{
    // By the whole native path, which names exactly that entry on every system.
    return RemoveNonFolder(folder + name);
}

RenameResult ResultOf(const RenameStatus &status)
{
    RenameResult result;
    result.systemError = status.systemCode;
    switch (status.error) {
    case RenameError::None:
        result.outcome = RenameOutcome::Renamed;
        break;
    case RenameError::InvalidName:
        result.outcome = RenameOutcome::InvalidName;
        break;
    case RenameError::NameTooLong:
        result.outcome = RenameOutcome::NameTooLong;
        break;
    case RenameError::TargetExists:
        result.outcome = RenameOutcome::TargetExists;
        break;
    case RenameError::Vanished:
        result.outcome = RenameOutcome::Vanished;
        break;
    case RenameError::NotPermitted:
        result.outcome = RenameOutcome::NotPermitted;
        break;
    case RenameError::Other:
        result.outcome = RenameOutcome::OtherError;
        break;
    }
    return result;
}

// Keeps the folder of the last rename open: a run of renames in one folder
// costs one system call each.
bool DiskFileSystem::Hold(const std::string &folder, const EntryIdentity &identity)
{
    if (folder != openPath_ || !(identity == openIdentity_)) {
        open_.Close();
        openPath_ = folder;
        openIdentity_ = identity;
        EntryIdentity found;
        openMatches_ = open_.Open(folder, found) && found == identity;
        if (!openMatches_)
            open_.Close();
    }
    return openMatches_;
}

bool DiskFileSystem::ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                                     const std::string &below, EntryIdentity &identity,
                                     DirListing &listing)
{
    if (!Hold(base, baseIdentity)) {
        listing.Clear();
        listing.unreadable = true;
        return false;
    }
    return open_.ReadBelow(below, identity, listing);
}

RenameResult DiskFileSystem::RenameIn(const std::string &folder, const EntryIdentity &identity,
                                      const char *name, const char *newName)
{
    if (!Hold(folder, identity)) {
        RenameResult moved;
        moved.outcome = RenameOutcome::FolderMoved;
        return moved;
    }
    return ResultOf(open_.Rename(name, newName));
}

bool DiskFileSystem::IdentifyIn(const std::string &folder, const EntryIdentity &identity,
                                const char *name, EntryIdentity &entry)
{
    return Hold(folder, identity) && open_.IdentifyEntry(name, entry);
}
