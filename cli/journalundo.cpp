#include "cli/journalundo.h"

#include "cli/displaypath.h"
#include "platform/nativepath.h"
#include "platform/openfolder.h"
#include "platform/system.h"

#include <string>

namespace {

// Where the name begins in a native path; 0 when it has no separator.
int NameAt(const QByteArray &path)
{
    for (int i = path.size(); i > 0; --i)
        if (IsNativeSeparator(path.at(i - 1)))
            return i;
    return 0;
}

void PrintRestored(std::FILE *out, const QByteArray &shownNew, const QByteArray &shownOld)
{
    std::fprintf(out, "restored: %s -> %s\n", shownNew.constData(), shownOld.constData());
}

void PrintFailed(std::FILE *err, const QByteArray &shownNew, const QByteArray &shownOld,
                 const RenameStatus &status)
{
    std::fprintf(err, "failed: %s -> %s (%s)\n", shownNew.constData(), shownOld.constData(),
                 SystemErrorText(status.systemCode).c_str());
}

// One rename to take back: both names in one folder, opened without
// following any link, so that every look and the rename itself happen in
// that one folder.
class UndoStep
{
public:
    UndoStep(const JournalRecord &record, UndoCounts &counts, std::FILE *out, std::FILE *err)
        : record_(record), counts_(counts), out_(out), err_(err),
          shownOld_(DisplayPath(record.oldPath)), shownNew_(DisplayPath(record.newPath))
    {
    }

    // False, with the skip or failure reported, when the folder can't be
    // used: the two paths are in different folders, a link stands on the
    // way, the folder is gone or can't be opened.
    bool OpenFolderOfBoth(bool pending)
    {
        const int newAt = NameAt(record_.newPath);
        const int oldAt = NameAt(record_.oldPath);
        if (newAt == 0 || newAt != oldAt || record_.newPath.left(newAt) != record_.oldPath.left(oldAt)) {
            Skip("skipped, not a rename within one folder: %s -> %s\n", shownNew_, shownOld_);
            return false;
        }
        newName_ = record_.newPath.mid(newAt).toStdString();
        oldName_ = record_.oldPath.mid(oldAt).toStdString();
        EntryIdentity identity;
        int code = 0;
        switch (folder_.OpenWithoutLinks(record_.newPath.left(newAt).toStdString(), identity, code)) {
        case FolderReach::Opened:
            return true;
        case FolderReach::ThroughLink:
            Skip("skipped, reached through a link: %s\n", shownNew_);
            return false;
        case FolderReach::Missing:
            if (pending)
                SkipUnresolved();
            else
                Skip("skipped, gone: %s\n", shownNew_);
            return false;
        case FolderReach::Failed:
            break;
        }
        ++counts_.failed;
        std::fprintf(err_, "failed: %s -> %s (%s)\n", shownNew_.constData(),
                     shownOld_.constData(), SystemErrorText(code).c_str());
        return false;
    }

    bool AtNew(EntryIdentity &identity) const
    {
        return folder_.IdentifyEntry(newName_.c_str(), identity);
    }
    bool AtOld(EntryIdentity &identity) const
    {
        return folder_.IdentifyEntry(oldName_.c_str(), identity);
    }
    RenameStatus RenameBack() { return folder_.Rename(newName_.c_str(), oldName_.c_str()); }

    void Restored()
    {
        ++counts_.restored;
        PrintRestored(out_, shownNew_, shownOld_);
    }
    void AlreadyRestored()
    {
        ++counts_.restored;
        std::fprintf(out_, "already restored: %s\n", shownOld_.constData());
    }
    void NothingToUndo()
    {
        std::fprintf(out_, "not made, nothing to undo: %s -> %s\n", shownOld_.constData(),
                     shownNew_.constData());
    }
    void Failed(const RenameStatus &status)
    {
        ++counts_.failed;
        PrintFailed(err_, shownNew_, shownOld_, status);
    }
    void Skip(const char *format, const QByteArray &first,
              const QByteArray &second = QByteArray())
    {
        ++counts_.skipped;
        std::fprintf(err_, format, first.constData(), second.constData());
    }
    void SkipUnresolved()
    {
        Skip("skipped, last rename unresolved: %s (not the entry that stood at %s, "
             "or that name is taken)\n",
             shownNew_, shownOld_);
    }
    const QByteArray &ShownNew() const { return shownNew_; }
    const QByteArray &ShownOld() const { return shownOld_; }

private:
    const JournalRecord &record_;
    UndoCounts &counts_;
    std::FILE *out_;
    std::FILE *err_;
    const QByteArray shownOld_;
    const QByteArray shownNew_;
    std::string oldName_, newName_;
    OpenFolder folder_;
};

enum class Occupant { None, Recorded, Other };

Occupant OccupantOf(bool present, const EntryIdentity &found, const EntryIdentity &recorded)
{
    if (!present)
        return Occupant::None;
    return found == recorded ? Occupant::Recorded : Occupant::Other;
}

// The last rename the run asked for, its outcome unknown: the identity it
// recorded tells whether the entry moved.
void UndoPending(const PendingIntent &pending, UndoCounts &counts, std::FILE *out,
                 std::FILE *err)
{
    UndoStep step(pending.paths, counts, out, err);
    if (!step.OpenFolderOfBoth(true))
        return;
    EntryIdentity foundNew, foundOld;
    const bool newThere = step.AtNew(foundNew);
    const bool oldThere = step.AtOld(foundOld);
    const Occupant atNew = OccupantOf(newThere, foundNew, pending.identity);
    const Occupant atOld = OccupantOf(oldThere, foundOld, pending.identity);
    if (atNew == Occupant::Recorded && atOld != Occupant::Other) {
        // Both names may answer for the one entry (a change of case only on
        // a file system that ignores case): putting OLD back is then right too.
        const RenameStatus status = step.RenameBack();
        if (status.Succeeded())
            step.Restored();
        else if (atOld == Occupant::Recorded && status.error == RenameError::TargetExists)
            step.NothingToUndo();
        else
            step.Failed(status);
    } else if (atOld == Occupant::Recorded && atNew != Occupant::Recorded) {
        step.NothingToUndo();
    } else {
        step.SkipUnresolved();
    }
}

// A rename the journal confirms. Where it recorded no identity (version 1,
// or an entry the system gives no number) the entry at NEW is taken as it is.
void UndoDone(const JournalRecord &record, UndoCounts &counts, std::FILE *out, std::FILE *err)
{
    const bool identified = record.identity.Known();
    UndoStep step(record, counts, out, err);
    if (!step.OpenFolderOfBoth(false))
        return;
    EntryIdentity atNew, atOld;
    const bool oldTaken = step.AtOld(atOld);
    if (!step.AtNew(atNew)) {
        // Back already, by an undo stopped part-way or by hand.
        if (identified && oldTaken && atOld == record.identity)
            step.AlreadyRestored();
        else
            step.Skip("skipped, gone: %s\n", step.ShownNew());
        return;
    }
    if (identified && !(atNew == record.identity)) {
        step.Skip("skipped, not the entry renamed: %s\n", step.ShownNew());
        return;
    }
    // OLD may answer for the entry at NEW itself (a change of case only
    // where case is ignored); the no-replace rename tells the rest apart.
    const RenameStatus status = oldTaken && !(atOld == atNew)
        ? RenameStatus{RenameError::TargetExists, 0}
        : step.RenameBack();
    if (status.Succeeded())
        step.Restored();
    else if (oldTaken && status.error == RenameError::TargetExists)
        step.Skip("skipped, taken: %s (not renamed back from %s)\n", step.ShownOld(),
                  step.ShownNew());
    else
        step.Failed(status);
}

} // namespace

UndoCounts UndoJournal(const JournalContents &contents, std::FILE *out, std::FILE *err)
{
    UndoCounts counts;
    if (contents.pending.present)
        UndoPending(contents.pending, counts, out, err);
    const JournalRecordList &records = contents.records;
    for (int i = records.size() - 1; i >= 0; --i)
        UndoDone(records.at(i), counts, out, err);
    return counts;
}
