#include "platform/storedname.h"

#include "platform/nativepath.h"

bool StoredNameOf(const char *newName, std::string &stored)
{
    if (!IsPlainName(newName))
        return false;
    stored = newName;
    return true;
}
