#pragma once

#include <functional>
#include <string>

namespace ktutils::tool {

// Calls `file` with the path of every regular file below `folder`, depth
// first, each folder's entries in byte order of their names; `trouble` with the path
// and errno of a folder that cannot be read, and the walk goes on. Symbolic
// links are not followed, to files or to folders: a walk stays inside the
// tree it was given, as `find` does without -L.
void WalkFolder(const std::string& folder, const std::function<void(const std::string&)>& file,
                const std::function<void(const std::string&, int)>& trouble);

}  // namespace ktutils::tool
