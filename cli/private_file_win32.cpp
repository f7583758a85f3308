#include <windows.h>

#include <memory>
#include <type_traits>

#include "cli/private_file.h"
#include "core/free_with.h"
#include "core/text.h"

namespace brisal::cli {

namespace {

// Made only from a handle already checked against INVALID_HANDLE_VALUE.
using FileHandle = OwningPtr<std::remove_pointer_t<HANDLE>, CloseHandle>;

Message ErrorOf(DWORD code) {
  return code == ERROR_FILE_EXISTS ? Message(MessageCode::kPrivateKeyExists)
                                   : Message(MessageCode::kSystemError, {}, code);
}

}  // namespace

bool WriteNewPrivateFile(const std::string& path, const std::string& data, Message& error) {
  const std::wstring wide = Utf8ToWide(path);
  HANDLE raw = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    error = ErrorOf(GetLastError());
    return false;
  }
  FileHandle file(raw);
  DWORD written = 0;
  const bool ok =
      WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
      written == data.size() && FlushFileBuffers(file.get());
  if (!ok) {
    error = ErrorOf(GetLastError());
    file.reset();
    DeleteFileW(wide.c_str());
    return false;
  }
  return true;
}

}  // namespace brisal::cli
