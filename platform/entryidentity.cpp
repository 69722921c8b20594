#include "platform/entryidentity.h"

std::size_t EntryIdentityHash::operator()(const EntryIdentity &identity) const
{
    std::uint64_t mixed = (identity.index * 0x9E3779B97F4A7C15ull) ^ identity.volume
        ^ (identity.indexHigh * 0xC2B2AE3D27D4EB4Full);
    if (identity.ByPath())
        mixed ^= std::hash<std::string>()(identity.finalPath);
    return std::hash<std::uint64_t>()(mixed);
}

bool IdentityFromFileId(std::uint64_t volume, const unsigned char *id, std::size_t size,
                        const std::function<bool(std::string &)> &finalPath,
                        EntryIdentity &identity)
{
    identity = EntryIdentity();
    identity.volume = volume;
    bool zeros = true, ones = true;
    for (std::size_t i = 0; i < size; ++i) {
        zeros = zeros && id[i] == 0x00;
        ones = ones && id[i] == 0xFF;
        std::uint64_t &half = i < 8 ? identity.index : identity.indexHigh;
        half |= static_cast<std::uint64_t>(id[i]) << (8 * (i % 8));
    }
    if (!zeros && !ones)
        return true;
    // No number to go by: two such entries are one only at one final path.
    identity.index = identity.indexHigh = 0;
    return finalPath(identity.finalPath) && !identity.finalPath.empty();
}
