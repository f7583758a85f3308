// The install folder the player picks with "Cambiar": the picker's title, the rules a
// folder must pass and their Spanish refusals. ChooseInstallFolder, the LauncherWindow
// member that shows the picker and applies the choice, is defined in folder_choice.cpp.
#pragma once

#include <string>

namespace brisal {

inline constexpr char kFolderPickerTitle[] = "Elige la carpeta donde se instalará Brisal Ascent";
inline constexpr char kDriveRootRefusal[] =
    "Elige una carpeta, no la raíz de un disco (por ejemplo C:\\Juegos\\Brisal).";
inline constexpr char kLauncherFolderRefusal[] =
    "No instales el cliente en la misma carpeta del launcher.";

// Checks a picked folder. Trailing separators are removed first; what is left must
// name a folder, not a drive or the file-system root, and must not be the launcher's
// own folder (compared the way the platform compares file names). On success
// `folder` is the path without trailing separators; on refusal `refusal` is the text
// for the status line.
bool CheckInstallFolder(const std::string& chosen, const std::string& exe_folder,
                        std::string& folder, std::string& refusal);

}  // namespace brisal
