#pragma once

#include "cli/journalwriter.h"
#include "engine/passfilesystem.h"

#include <string>
#include <vector>

// The file system of a run with a journal: the file system the pass would
// use, with every rename written ahead. Before a rename the journal gets its
// intent (both paths, and the identity of the entry itself); after it, its
// result. A rename whose intent can't be written is not made; one whose
// result can't be written is taken back. Either way the journal then takes
// nothing more and the rename comes back JournalNotWritten, which stops the
// pass; RenamedJournalNotWritten when it could not be taken back (its intent,
// last in the journal, then stands for it). Every later rename is refused
// as JournalNotWritten.
class JournalFileSystem final : public PassFileSystem
{
public:
    JournalFileSystem(PassFileSystem &inner, JournalWriter &journal);

    // An entry never to be renamed, whatever path leads to it (the journal,
    // the folders that hold it): a job that renamed one would lose its journal.
    void Protect(const EntryIdentity &identity);

    bool Identify(const std::string &path, EntryIdentity &identity) override;
    bool ListFolder(const std::string &path, EntryIdentity &identity,
                    DirListing &listing) override;
    bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                         const std::string &below, EntryIdentity &identity,
                         DirListing &listing) override;
    RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) override;
    bool IdentifyIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                    EntryIdentity &entry) override;
    bool FinalPath(const std::string &path, std::string &final) override;
    // Not a rename: nothing to write ahead.
    bool RemoveReport(const std::string &folder, const std::string &name) override;
    TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &blocks) override;

private:
    bool IsProtected(const EntryIdentity &identity) const;
    // The journal takes nothing more from here on.
    RenameResult Broken(RenameOutcome outcome, int systemCode);

    PassFileSystem &inner_;
    JournalWriter &journal_;
    std::vector<EntryIdentity> protected_;
    bool broken_ = false;
    int failureCode_ = 0; // the system's code for the write that failed
};

// Where a journal stands relative to the folder of a job.
struct JournalPlace
{
    // The journal's folder is the job's folder or lies below it, by identity:
    // among its real parents, or among the folders its path names on the way
    // (so a path through a link inside the job's folder counts too).
    bool insideFolder = false;
    // Every folder above the journal, real or named on its path, and each
    // entry named on its path itself (a link): to be protected from the job.
    std::vector<EntryIdentity> holders;
};

// `journalPath` and `folder` are native and absolute.
JournalPlace PlaceOfJournal(const std::string &journalPath, const std::string &folder);
