#include "crypto/store/stale_temps.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string_view>
#include <vector>

#include "crypto/bio/replace_temp.h"
#include "crypto/store/pse_commit.h"

namespace cadb {
namespace {

// ".key" of "00000001.key"; empty for a name without an extension.
std::string_view extension_of(std::string_view name) {
    const auto dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? std::string_view() : name.substr(dot);
}

bool same_kind(std::string_view name, std::string_view target_name) {
    const std::string_view ext = extension_of(target_name);
    if (ext.empty()) return name == target_name;
    return name.size() > ext.size() && extension_of(name) == ext;
}

}  // namespace

void remove_stale_temps_beside(const std::string& target) {
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const std::string_view target_name = slash == std::string::npos
                                             ? std::string_view(target)
                                             : std::string_view(target).substr(slash + 1);
    PseFolderLock lock;
    if (!lock.acquire(folder, 0)) return;
    struct stat st {};
    if (::lstat((folder + "/" + kPseCommitRecord).c_str(), &st) == 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return;
    std::vector<std::string> found;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string_view of = replace_temp_target(e->d_name);
        if (!of.empty() && same_kind(of, target_name)) found.emplace_back(e->d_name);
    }
    dir.reset();
    for (const std::string& name : found)
        replace_temp_remove_stale(folder + "/" + name, kReplaceTempUnheldAge);
}

}  // namespace cadb
