// What the engine removes from the install folder besides files it replaces: obsolete
// files it recorded, what stands in a new file's way, and partial files nothing will
// resume. Nothing it did not install or begin is ever removed, and nothing through a
// link.
#pragma once

#include <string>
#include <vector>

#include "client_files/manifest.h"

namespace brisal {

class FileStateCache;
class InstallTree;

// Deletes an obsolete file and the folders it leaves empty, never the install folder
// itself. The cache record goes whether or not the file could be deleted.
void DeleteObsolete(FileStateCache& cache, const InstallTree& tree, const std::string& path);

// A file that becomes a folder, or a folder that becomes a file: what stands in the
// way of a download is removed first when it is an obsolete recorded file, or a
// folder holding only such files.
void ClearTheWay(FileStateCache& cache, const InstallTree& tree,
                 const std::vector<ManifestEntry>& work, const std::vector<std::string>& obsolete);

// Partial files of entries the manifest no longer lists would otherwise stay forever:
// nothing would ever resume or delete them.
void RemoveOrphanPartials(const Manifest& manifest, const InstallTree& tree);

}  // namespace brisal
