// What a replaced file keeps beyond its bytes: its DACL, its owner and group
// where this process may give them, and its hidden, system, archive and
// not-content-indexed attributes. Alternate data streams are not carried
// over: the save writes the whole file anew from what the load read, and a
// stream is content the load never read nor checked for changes.
#include <cstdio>

#include "internal.h"

namespace platform {

namespace {

const DWORD k_kept_attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

file_status cannot_copy(DWORD code, sys_error *err) {
    sys_error why;
    describe(code, &why);
    std::snprintf(err->text, sizeof err->text,
                  "cannot copy the security of the file it replaces: %s", why.text);
    return FILE_FAILED;
}

// The entries of `dacl` set on the file itself, not inherited from its
// folder, into `*kept` (null when there are none); false when they cannot
// be copied.
bool explicit_entries(PACL dacl, PACL *kept) {
    ACL_SIZE_INFORMATION size;
    if (!GetAclInformation(dacl, &size, sizeof size, AclSizeInformation))
        return false;
    *kept = static_cast<PACL>(LocalAlloc(LMEM_FIXED, dacl->AclSize));
    if (*kept == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (!InitializeAcl(*kept, dacl->AclSize, dacl->AclRevision))
        return false;
    DWORD count = 0;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            return false;
        const auto *header = static_cast<const ACE_HEADER *>(ace);
        if (header->AceFlags & INHERITED_ACE)
            continue;
        if (!AddAce(*kept, dacl->AclRevision, MAXDWORD, ace, header->AceSize))
            return false;
        ++count;
    }
    if (count == 0) {
        LocalFree(*kept);
        *kept = nullptr;
    }
    return true;
}

}  // namespace

kept_metadata::~kept_metadata() {
    LocalFree(explicit_dacl_);
    LocalFree(old_);
}

// The new file is made in the same folder, so an unprotected DACL is given
// as its own entries only, and the system adds what the folder passes on,
// as it did for the old file; a protected DACL is given whole.
file_status kept_metadata::read(const wide_path &target, sys_error *err) {
    HANDLE old = CreateFileW(target.text, READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (old == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return FILE_ABSENT;
        return cannot_copy(code, err);
    }
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    DWORD code = calls().get_security_info(
        old, SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
        &group, &dacl, nullptr, &old_);
    FILE_BASIC_INFO basic{};
    if (code == ERROR_SUCCESS &&
        !GetFileInformationByHandleEx(old, FileBasicInfo, &basic, sizeof basic))
        code = GetLastError();
    CloseHandle(old);
    if (code != ERROR_SUCCESS)
        return cannot_copy(code, err);
    file_attributes_ = basic.FileAttributes & k_kept_attributes;

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorControl(old_, &control, &revision) ||
        !GetSecurityDescriptorDacl(old_, &present, &dacl, &defaulted) ||
        !InitializeSecurityDescriptor(&made_, SECURITY_DESCRIPTOR_REVISION))
        return cannot_copy(GetLastError(), err);
    owner_ = owner;
    group_ = group;
    bool copied = true;
    if (present && (dacl == nullptr || (control & SE_DACL_PROTECTED))) {
        // A protected DACL, or none at all (everyone may do anything), is
        // kept as it is, unmixed with what the folder passes on.
        copied = SetSecurityDescriptorDacl(&made_, TRUE, dacl, FALSE) &&
                 SetSecurityDescriptorControl(&made_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    } else if (present) {
        copied = explicit_entries(dacl, &explicit_dacl_) &&
                 (explicit_dacl_ == nullptr ||
                  SetSecurityDescriptorDacl(&made_, TRUE, explicit_dacl_, FALSE));
    }
    return copied ? FILE_OK : cannot_copy(GetLastError(), err);
}

SECURITY_ATTRIBUTES *kept_metadata::security(bool with_owner) {
    if (old_ == nullptr)
        return nullptr;
    SetSecurityDescriptorOwner(&made_, with_owner ? owner_ : nullptr, FALSE);
    SetSecurityDescriptorGroup(&made_, with_owner ? group_ : nullptr, FALSE);
    attributes_ = {sizeof attributes_, &made_, FALSE};
    return &attributes_;
}

int kept_metadata::apply_attributes(HANDLE file, sys_error *err) const {
    if (file_attributes_ == 0)
        return 0;
    FILE_BASIC_INFO basic{};  // times of zero stay as they are
    basic.FileAttributes = file_attributes_;
    return calls().set_file_information(file, FileBasicInfo, &basic, sizeof basic) ? 0 : fail(err);
}

}  // namespace platform
