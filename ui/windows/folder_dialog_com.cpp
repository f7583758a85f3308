#include "ui/windows/folder_dialog_com.h"

#include <shobjidl.h>

#include "core/free_with.h"
#include "core/text.h"
#include "ui/windows/win32_objects.h"

namespace brisal {

bool PickFolderWithDialog(HWND owner, const std::string& title, std::string& chosen) {
  ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileOpenDialog, reinterpret_cast<void**>(dialog.Put())))) {
    return false;
  }
  FILEOPENDIALOGOPTIONS options = 0;
  if (SUCCEEDED(dialog->GetOptions(&options))) {
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  }
  dialog->SetTitle(Utf8ToWide(title).c_str());
  // No start folder: the dialog opens where the system places it.
  if (FAILED(dialog->Show(owner))) return false;  // cancelled, or could not be shown

  ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(item.Put())) || !item) return false;
  wchar_t* raw_path = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &raw_path)) || raw_path == nullptr) {
    return false;
  }
  OwningPtr<wchar_t, CoTaskMemFree> path(raw_path);
  chosen = WideToUtf8(path.get());
  return true;
}

}  // namespace brisal
