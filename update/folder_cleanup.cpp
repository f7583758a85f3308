#include "update/folder_cleanup.h"

#include <unordered_set>

#include "client_files/file_state_cache.h"
#include "core/install_tree.h"
#include "core/paths.h"

namespace brisal {

void DeleteObsolete(FileStateCache& cache, const InstallTree& tree, const std::string& path) {
  // Keys come from the state file; a hand-edited one must never reach outside.
  if (IsSafeRelativePath(path) && tree.RemoveFile(path) != TreeResult::kLink) {
    for (std::string folder = ParentManifestPath(path); !folder.empty();
         folder = ParentManifestPath(folder)) {
      if (tree.RemoveFolder(folder) != TreeResult::kDone) break;
    }
  }
  cache.Erase(path);
}

void ClearTheWay(FileStateCache& cache, const InstallTree& tree,
                 const std::vector<ManifestEntry>& work, const std::vector<std::string>& obsolete) {
  if (obsolete.empty()) return;
  const std::unordered_set<std::string> obsolete_set(obsolete.begin(), obsolete.end());
  TreeEntry found;
  for (const ManifestEntry& entry : work) {
    for (std::string folder = ParentManifestPath(entry.path); !folder.empty();
         folder = ParentManifestPath(folder)) {
      if (obsolete_set.count(folder) != 0 && tree.Stat(folder, found) == TreeResult::kDone &&
          found.is_regular) {
        DeleteObsolete(cache, tree, folder);
      }
    }
    if (tree.Stat(entry.path, found) == TreeResult::kDone && found.is_directory) {
      const std::string inside = entry.path + "/";
      for (const std::string& path : obsolete) {
        if (path.compare(0, inside.size(), inside) == 0) DeleteObsolete(cache, tree, path);
      }
    }
  }
}

void RemoveOrphanPartials(const Manifest& manifest, const InstallTree& tree) {
  std::unordered_set<std::string> listed;
  listed.reserve(manifest.files.size());
  for (const ManifestEntry& entry : manifest.files)
    listed.insert(FileNameKey(entry.path));
  const std::string suffix = FileNameKey(kPartialSuffix);
  tree.ForEachFile([&](const std::string& path) {
    const std::string key = FileNameKey(path);
    if (key.size() > suffix.size() &&
        key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        listed.count(key.substr(0, key.size() - suffix.size())) == 0) {
      tree.RemoveFile(path);
    }
  });
}

}  // namespace brisal
