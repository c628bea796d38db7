#include "tools/files/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace ktutils::tool {

void WalkFolder(const std::string& folder, const std::function<void(const std::string&)>& file,
                const std::function<void(const std::string&, int)>& trouble) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        trouble(folder, errno);
        return;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
        errno = 0;
    }
    const int error = errno;
    closedir(listing);
    if (error != 0) trouble(folder, error);
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    for (const std::string& name : names) {
        const std::string path = prefix + name;
        struct stat status {};
        // lstat: a link is neither a file nor a folder of the tree.
        if (lstat(path.c_str(), &status) != 0) {
            trouble(path, errno);
        } else if (S_ISDIR(status.st_mode)) {
            WalkFolder(path, file, trouble);
        } else if (S_ISREG(status.st_mode)) {
            file(path);
        }
    }
}

}  // namespace ktutils::tool
