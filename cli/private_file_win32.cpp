#include <windows.h>

#include <type_traits>
#include <vector>

#include "cli/private_file.h"
#include "core/free_with.h"
#include "core/text.h"

namespace brisal::cli {

namespace {

// Made only from a handle already checked against INVALID_HANDLE_VALUE (a file) or null
// (a token).
using Handle = OwningPtr<std::remove_pointer_t<HANDLE>, CloseHandle>;

Message ErrorOf(DWORD code) {
  return code == ERROR_FILE_EXISTS ? Message(MessageCode::kPrivateKeyExists)
                                   : Message(MessageCode::kSystemError, {}, code);
}

// A security descriptor whose access list lets the process's user alone in, and takes
// nothing from the folder: the user's profile may be shared or its permissions widened,
// and the key must not follow them. The descriptor points into this object's buffers.
class OwnerOnlyDescriptor {
 public:
  OwnerOnlyDescriptor() = default;
  OwnerOnlyDescriptor(const OwnerOnlyDescriptor&) = delete;
  OwnerOnlyDescriptor& operator=(const OwnerOnlyDescriptor&) = delete;

  // False with GetLastError's number when the user or the list cannot be had.
  bool Make() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    Handle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    user_.resize(size);
    if (!GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    acl_.resize(acl_size);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    return InitializeAcl(acl, acl_size, ACL_REVISION) &&
           AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
           InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }

  SECURITY_DESCRIPTOR* get() { return &descriptor_; }

 private:
  std::vector<BYTE> user_;  // TOKEN_USER, with the SID it points to
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
};

}  // namespace

bool WriteNewPrivateFile(const std::string& path, const std::string& data, Message& error) {
  OwnerOnlyDescriptor descriptor;
  if (!descriptor.Make()) {
    error = ErrorOf(GetLastError());
    return false;
  }
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor.get();
  attributes.bInheritHandle = FALSE;
  const std::wstring wide = Utf8ToWide(path);
  HANDLE raw = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    error = ErrorOf(GetLastError());
    return false;
  }
  Handle file(raw);
  DWORD written = 0;
  DWORD failure = 0;
  if (!WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
    failure = GetLastError();
  } else if (written != data.size()) {
    // A write that took less than it was given sets no error of its own; what
    // GetLastError holds then belongs to some earlier call.
    failure = ERROR_WRITE_FAULT;
  } else if (!FlushFileBuffers(file.get())) {
    failure = GetLastError();
  }
  if (failure != 0) {
    error = ErrorOf(failure);
    file.reset();
    DeleteFileW(wide.c_str());
    return false;
  }
  return true;
}

}  // namespace brisal::cli
