#pragma once

#include "engine/passfilesystem.h"
#include "platform/entryidentity.h"
#include "platform/folderlisting.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace enginetest {

// A tree written out by the test, held in memory: folders by native path
// (ending in "/"), each with its entries. Enough of a file system for a
// pass; it never touches the disk, so it holds what no disk here can (paths
// far past the longest the system opens). The dry run's copy of a disk is
// engine/memoryfilesystem.h.
// A link leads to a folder of the tree, to one outside it (an empty
// target), or to one whose final path can't be told ("?").
class ScriptedFileSystem final : public PassFileSystem
{
public:
    struct Node
    {
        DirEntryKind kind;
        EntryIdentity identity;
        std::string target; // a link's: a folder path ending in "/", "" or "?"
    };

    void AddFolder(const std::string &path)
    {
        folders_[path].clear();
        ids_[path] = Next();
    }
    void AddFile(const std::string &folder, const std::string &name)
    {
        folders_[folder][name] = Node{DirEntryKind::File, Next(), {}};
    }
    void AddSubfolder(const std::string &folder, const std::string &name)
    {
        AddFolder(folder + name + "/");
        folders_[folder][name] = Node{DirEntryKind::Folder, ids_[folder + name + "/"], {}};
    }
    void AddLink(const std::string &folder, const std::string &name, const std::string &target)
    {
        folders_[folder][name] = Node{DirEntryKind::Link, Next(), target};
    }

    bool Identify(const std::string &path, EntryIdentity &identity) override
    {
        const std::string folder = Resolved(path);
        if (folder.empty()) {
            identity = kOutside;
            return true;
        }
        const auto found = ids_.find(folder);
        if (found == ids_.end())
            return false;
        identity = found->second;
        return true;
    }
    bool ListFolder(const std::string &path, EntryIdentity &identity, DirListing &listing) override
    {
        listing.Clear();
        if (!Identify(path, identity))
            return false;
        const std::string folder = Resolved(path);
        if (folder.empty()) {
            listing.Add("outside.txt", 11, DirEntryKind::File, LinkTargetKind::None, false);
            ++outsideListed;
            return true;
        }
        listing.unreadable = unreadable.count(folder) != 0;
        if (listing.unreadable)
            return true;
        for (const auto &entry : folders_[folder])
            listing.Add(entry.first.data(), entry.first.size(), entry.second.kind,
                        entry.second.kind == DirEntryKind::Link ? LinkTargetKind::Folder
                                                                : LinkTargetKind::None,
                        entry.first[0] == '.');
        return true;
    }
    bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                         const std::string &below, EntryIdentity &identity,
                         DirListing &listing) override
    {
        listing.Clear();
        EntryIdentity found;
        std::string folder = base;
        listing.unreadable = true;
        if (!Identify(folder, found) || !(found == baseIdentity) || Resolved(folder) != folder)
            return false;
        for (std::size_t at = 0; at < below.size();) {
            std::size_t end = below.find('/', at);
            if (end == std::string::npos)
                end = below.size();
            const auto entry = folders_[folder].find(below.substr(at, end - at));
            if (entry == folders_[folder].end() || entry->second.kind != DirEntryKind::Folder)
                return false;
            folder += entry->first + "/";
            at = end + 1;
        }
        return ListFolder(folder, identity, listing);
    }
    RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) override
    {
        RenameResult result;
        EntryIdentity found;
        if (!Identify(folder, found) || !(found == identity)) {
            result.outcome = RenameOutcome::FolderMoved;
            return result;
        }
        auto &entries = folders_[folder];
        const auto from = entries.find(name);
        if (from == entries.end() || entries.count(newName)) {
            result.outcome =
                from == entries.end() ? RenameOutcome::Vanished : RenameOutcome::TargetExists;
            return result;
        }
        const Node node = from->second;
        entries.erase(from);
        entries[newName] = node;
        renames.push_back(folder + name + " -> " + newName);
        return result;
    }
    bool IdentifyIn(const std::string &, const EntryIdentity &, const char *,
                    EntryIdentity &) override
    {
        return false;
    }
    TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &) override
    {
        TextFileStatus status;
        auto &entries = folders_[folder];
        if (entries.count(name))
            return status;
        entries[name] = Node{DirEntryKind::File, Next(), {}};
        status.result = TextFileResult::Written;
        return status;
    }
    bool RemoveReport(const std::string &folder, const std::string &name) override
    {
        const auto found = folders_.find(folder);
        if (found == folders_.end() || !found->second.count(name)
            || found->second[name].kind != DirEntryKind::File)
            return false;
        found->second.erase(name);
        return true;
    }
    bool FinalPath(const std::string &path, std::string &final) override
    {
        ++finalPathsAsked;
        final = Resolved(path);
        if (final == "?")
            return false;
        if (final.empty())
            final = "/elsewhere";
        else if (final.size() > 1)
            final.pop_back(); // as the disk gives it: no trailing "/"
        return true;
    }

    std::vector<std::string> renames;
    std::set<std::string> unreadable; // folders whose listings say so
    int finalPathsAsked = 0;
    int outsideListed = 0;

private:
    static EntryIdentity Numbered(std::uint64_t volume, std::uint64_t index)
    {
        EntryIdentity identity;
        identity.volume = volume;
        identity.index = index;
        return identity;
    }
    const EntryIdentity kOutside = Numbered(2, 1);
    EntryIdentity Next() { return Numbered(1, ++count_); }
    // The folder (a path ending in "/") that `path` leads to: where a link
    // leads when its last name is one.
    std::string Resolved(const std::string &path)
    {
        const std::string folder = path.back() == '/' ? path : path + "/";
        const std::size_t at = folder.rfind('/', folder.size() - 2) + 1;
        const auto holder = folders_.find(folder.substr(0, at));
        if (holder != folders_.end()) {
            const auto entry = holder->second.find(folder.substr(at, folder.size() - 1 - at));
            if (entry != holder->second.end() && entry->second.kind == DirEntryKind::Link)
                return entry->second.target;
        }
        return folder;
    }
    std::map<std::string, std::map<std::string, Node>> folders_;
    std::map<std::string, EntryIdentity> ids_;
    std::uint64_t count_ = 0;
};

} // namespace enginetest
