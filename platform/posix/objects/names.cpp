// Object names and their namespaces.
//
// "Global\NAME" is one namespace for the whole machine, across users; "Local\NAME" and a name
// without a prefix are in the namespace of the calling user (Windows has one per session; here
// a user stands for the session). Names compare case-sensitively, as Windows documents.
//
// A name is data: it is stored in the arena and compared there, and never becomes a path, so
// "/", ".." or any length cannot reach the file system. Its shape follows Windows, except that
// a name longer than kMaxNameChars fails with ERROR_FILENAME_EXCED_RANGE; a backslash after the
// namespace prefix names a folder that does not exist (ERROR_PATH_NOT_FOUND); a prefix with nothing
// after it, or an empty first part, is not a valid object name (ERROR_INVALID_NAME); a name without
// a prefix cannot start with a backslash (ERROR_BAD_PATHNAME); "Global", "Local" and "Session" name
// the namespace links, not objects of ours (ERROR_INVALID_HANDLE); the empty name makes an unnamed
// object.
#include <string.h>
#include <unistd.h>

#include <string_view>

#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

struct NamespacePrefix {
    const char16_t* pszPrefix;
    uint32_t cchPrefix;
    uint32_t nameSpace;
};

const NamespacePrefix kPrefixes[] = {
    {u"Global\\", 7, kGlobalNamespace},
    {u"Local\\", 6, kUserNamespace},
};

// Every namespace holds these links to namespaces: names taken by objects of another kind.
const char16_t* const kLinkNames[] = {u"Global", u"Local", u"Session"};

uint32_t HashName(uint32_t nameSpace, uint32_t uid, const char16_t* chars, uint32_t length)
{
    // FNV-1a over the namespace, its user and the characters.
    uint32_t hash = 2166136261u;
    auto mix = [&hash](uint32_t value) {
        hash ^= value;
        hash *= 16777619u;
    };
    mix(nameSpace);
    mix(uid);
    for (uint32_t i = 0; i < length; i++) {
        mix(chars[i]);
    }
    return hash != 0 ? hash : 1;  // 0 marks a slot without a name
}

uint32_t HashOf(uint32_t object)
{
    const ObjectSlot& slot = ObjectAt(object);
    return HashName(slot.nameSpace, slot.namespaceUid, TheArena().names[object].chars,
                    slot.nameLength);
}

bool SameName(uint32_t object, const ObjectName& name)
{
    const ObjectSlot& slot = ObjectAt(object);
    return slot.nameSpace == name.nameSpace && slot.namespaceUid == name.uid &&
           slot.nameLength == name.length &&
           memcmp(TheArena().names[object].chars, name.chars, name.length * sizeof(char16_t)) == 0;
}

}  // namespace

DWORD ParseObjectName(LPCWSTR lpName, ObjectName* pName)
{
    *pName = ObjectName{kUnnamed, 0, 0, nullptr};
    if (lpName == nullptr) {
        return ERROR_SUCCESS;
    }
    uint32_t length = 0;
    while (length <= kMaxNameChars && lpName[length] != 0) {
        length++;
    }
    if (length > kMaxNameChars) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (length == 0) {
        return ERROR_SUCCESS;
    }

    ObjectName name = {kUserNamespace, 0, length, lpName};
    bool bPrefixed = false;
    for (const NamespacePrefix& prefix : kPrefixes) {
        if (length >= prefix.cchPrefix &&
            memcmp(lpName, prefix.pszPrefix, prefix.cchPrefix * sizeof(char16_t)) == 0) {
            name = {prefix.nameSpace, 0, length - prefix.cchPrefix, lpName + prefix.cchPrefix};
            bPrefixed = true;
            break;
        }
    }
    if (!bPrefixed && name.chars[0] == u'\\') {
        return ERROR_BAD_PATHNAME;  // a name relative to the namespace cannot start at its root
    }
    if (name.length == 0 || name.chars[0] == u'\\') {
        return ERROR_INVALID_NAME;  // an empty name after the prefix
    }
    for (uint32_t i = 0; i < name.length; i++) {
        if (name.chars[i] == u'\\') {
            return ERROR_PATH_NOT_FOUND;
        }
    }
    for (const char16_t* pszLink : kLinkNames) {
        if (std::u16string_view(name.chars, name.length) == pszLink) {
            return ERROR_INVALID_HANDLE;
        }
    }
    if (name.nameSpace == kUserNamespace) {
        name.uid = geteuid();
    }
    *pName = name;
    return ERROR_SUCCESS;
}

uint32_t FindNamedObject(const ObjectName& name)
{
    uint32_t hash = HashName(name.nameSpace, name.uid, name.chars, name.length);
    const uint32_t* hashes = TheArena().nameHashes;
    for (uint32_t o = 1; o < kObjectSlots; o++) {
        if (hashes[o] == hash && SameName(o, name)) {
            return o;
        }
    }
    return 0;
}

void PublishName(uint32_t object, const ObjectName& name)
{
    ObjectSlot& slot = ObjectAt(object);
    slot.nameSpace = name.nameSpace;
    slot.namespaceUid = name.uid;
    slot.nameLength = name.length;
    if (name.nameSpace != kUnnamed) {
        memcpy(TheArena().names[object].chars, name.chars, name.length * sizeof(char16_t));
        TheArena().nameHashes[object] = HashOf(object);
    }
}

void WithdrawName(uint32_t object)
{
    TheArena().nameHashes[object] = 0;
}

void RebuildNameDirectory()
{
    for (uint32_t o = 1; o < kObjectSlots; o++) {
        bool bNamed = KindOf(o) != kFreeObject && ObjectAt(o).nameSpace != kUnnamed &&
                      ObjectAt(o).nameLength <= kMaxNameChars;
        TheArena().nameHashes[o] = bNamed ? HashOf(o) : 0;
    }
}

}  // namespace objects
