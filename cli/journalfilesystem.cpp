#include "cli/journalfilesystem.h"

#include "platform/folderchain.h"
#include "platform/nativepath.h"
#include "platform/entryidentity.h"

#include <algorithm>

JournalFileSystem::JournalFileSystem(PassFileSystem &inner, JournalWriter &journal)
    : inner_(inner), journal_(journal)
{
}

void JournalFileSystem::Protect(const EntryIdentity &identity)
{
    if (!IsProtected(identity))
        protected_.push_back(identity);
}

bool JournalFileSystem::IsProtected(const EntryIdentity &identity) const
{
    return std::find(protected_.begin(), protected_.end(), identity) != protected_.end();
}

bool JournalFileSystem::Identify(const std::string &path, EntryIdentity &identity)
{
    return inner_.Identify(path, identity);
}

bool JournalFileSystem::ListFolder(const std::string &path, EntryIdentity &identity,
                                   DirListing &listing)
{
    return inner_.ListFolder(path, identity, listing);
}

bool JournalFileSystem::ListFolderBelow(const std::string &base,
                                        const EntryIdentity &baseIdentity,
                                        const std::string &below, EntryIdentity &identity,
                                        DirListing &listing)
{
    return inner_.ListFolderBelow(base, baseIdentity, below, identity, listing);
}

bool JournalFileSystem::IdentifyIn(const std::string &folder, const EntryIdentity &identity,
                                   const char *name, EntryIdentity &entry)
{
    return inner_.IdentifyIn(folder, identity, name, entry);
}

bool JournalFileSystem::FinalPath(const std::string &path, std::string &final)
{
    return inner_.FinalPath(path, final);
}

bool JournalFileSystem::RemoveReport(const std::string &folder, const std::string &name)
{
    return inner_.RemoveReport(folder, name);
}

TextFileStatus JournalFileSystem::CreateNewFile(const std::string &folder, const std::string &name,
                                                const std::vector<std::string> &blocks)
{
    return inner_.CreateNewFile(folder, name, blocks);
}

RenameResult JournalFileSystem::RenameIn(const std::string &folder, const EntryIdentity &identity,
                                         const char *name, const char *newName)
{
    RenameResult result;
    if (broken_) {
        result.outcome = RenameOutcome::JournalNotWritten;
        result.systemError = failureCode_;
        return result;
    }
    EntryIdentity entry;
    if (!inner_.IdentifyIn(folder, identity, name, entry)) {
        // No entry to record, so none to rename: say why as the rename would.
        EntryIdentity found;
        result.outcome = inner_.Identify(folder, found) && found == identity
            ? RenameOutcome::Vanished
            : RenameOutcome::FolderMoved;
        return result;
    }
    if (IsProtected(entry)) {
        result.outcome = RenameOutcome::NotPermitted;
        return result;
    }
    int code = 0;
    if (!journal_.WriteIntent(folder + name, folder + newName, entry, code))
        return Broken(RenameOutcome::JournalNotWritten, code);
    result = inner_.RenameIn(folder, identity, name, newName);
    if (journal_.WriteResult(result.Succeeded(), code))
        return result;
    // A failed rename's intent stands alone, and the entry at its old name
    // answers it. A rename the journal does not confirm is taken back in the
    // folder it was made in, by the same no-replace rename.
    if (!result.Succeeded() || inner_.RenameIn(folder, identity, newName, name).Succeeded())
        return Broken(RenameOutcome::JournalNotWritten, code);
    return Broken(RenameOutcome::RenamedJournalNotWritten, code);
}

RenameResult JournalFileSystem::Broken(RenameOutcome outcome, int systemCode)
{
    broken_ = true;
    failureCode_ = systemCode;
    RenameResult result;
    result.outcome = outcome;
    result.systemError = systemCode;
    return result;
}

JournalPlace PlaceOfJournal(const std::string &journalPath, const std::string &folder)
{
    JournalPlace place;
    EntryIdentity chosen;
    const bool chosenKnown = IdentifyEntry(folder, chosen);
    const auto add = [&](const EntryIdentity &identity) {
        if (chosenKnown && identity == chosen)
            place.insideFolder = true;
        place.holders.push_back(identity);
    };
    std::size_t end = journalPath.size();
    while (end > 0 && !IsNativeSeparator(journalPath[end - 1]))
        --end;
    // Up to and including the last separator: the folder the journal goes in.
    const std::string journalFolder = journalPath.substr(0, end);
    std::vector<EntryIdentity> chain;
    if (!journalFolder.empty() && RealFolderChain(journalFolder, chain))
        for (const EntryIdentity &identity : chain)
            add(identity);
    // Each folder the path names on its way, as the system reaches it, and
    // the entry so named itself: a link there leads the job to the journal
    // as surely as a real parent.
    for (std::size_t i = 0; i < journalFolder.size(); ++i) {
        if (!IsNativeSeparator(journalFolder[i]))
            continue;
        EntryIdentity identity;
        if (IdentifyEntry(journalFolder.substr(0, i + 1), identity))
            add(identity);
        if (i > 0 && !IsNativeSeparator(journalFolder[i - 1])
            && IdentifyEntryItself(journalFolder.substr(0, i), identity))
            add(identity);
    }
    return place;
}
