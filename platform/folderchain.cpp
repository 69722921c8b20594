#include "platform/folderchain.h"

#ifdef _WIN32
#include "platform/nativepath.h"
#else
#include "platform/entryidentity_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Far more than any real nesting: only a broken file system loops.
const int kMaxDepth = 100000;

} // namespace

#ifdef _WIN32

bool RealFolderChain(const std::string &path, std::vector<EntryIdentity> &chain)
{
    // ".." is taken by its text on Windows: walk the final path instead, which
    // has no link left in it, so each shorter prefix is a real parent.
    chain.clear();
    std::string final;
    if (!FinalPathOf(path, final))
        return false;
    // "C:/x" or "//server/share/x", with "/" between names.
    std::size_t top = 0;
    if (final.compare(0, 2, "//") == 0) {
        const std::size_t share = final.find('/', 2);
        top = share == std::string::npos ? final.size() : final.find('/', share + 1);
        if (top == std::string::npos)
            top = final.size();
    } else {
        top = final.find('/');
        if (top == std::string::npos)
            top = final.size();
    }
    while (static_cast<int>(chain.size()) < kMaxDepth) {
        EntryIdentity identity;
        // The top of a volume needs its separator ("C:/"), a folder doesn't mind one.
        if (!IdentifyEntry(final + '/', identity))
            return !chain.empty();
        chain.push_back(identity);
        const std::size_t last = final.find_last_of('/');
        if (final.size() <= top || last == std::string::npos || last < top)
            break;
        final.resize(last > top ? last : top);
    }
    return true;
}

#else

bool RealFolderChain(const std::string &path, std::vector<EntryIdentity> &chain)
{
    // ".." from an open folder is the folder that really holds it, whatever
    // path led there, so no path is put together and none grows too long.
    chain.clear();
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
#ifdef O_PATH
    // A folder may be searched without being readable.
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    int fd = open(path.c_str(), flags);
    if (fd < 0)
        return false;
    while (static_cast<int>(chain.size()) < kMaxDepth) {
        struct stat info;
        if (fstat(fd, &info) != 0)
            break;
        EntryIdentity identity;
        identity = IdentityOfStat(info);
        if (!chain.empty() && chain.back() == identity)
            break; // the top: its ".." is itself
        chain.push_back(identity);
        const int parent = openat(fd, "..", flags);
        close(fd);
        fd = parent;
        if (fd < 0)
            return !chain.empty();
    }
    if (fd >= 0)
        close(fd);
    return !chain.empty();
}

#endif
