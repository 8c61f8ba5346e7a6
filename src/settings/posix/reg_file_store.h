#pragma once

#include "settings/settings_store.h"

#include <cstddef>
#include <string>

namespace kt::settings
{

// The settings key in a registry export file (REGEDIT4 text, UTF-8).
//
// The key counts as opened for full access when the path names a regular file (a symbolic
// link is never followed nor replaced: in a folder shared by a group, a planted link would
// otherwise aim our reads or writes elsewhere), this user may read and write it, the folder
// allows the rename a save needs, and the file holds the key. Saves rewrite the whole file
// atomically under an flock on the folder, so two programs saving at once keep each other's
// values and a reader always sees one whole version.
class RegFileStore : public SettingsStore
{
public:
    // Larger files are not settings files: they are neither read nor overwritten.
    static constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

    explicit RegFileStore(std::string path);

    std::optional<KeyValues> load() override;
    // Creates the folders (0775 less the umask), the file and the key as needed. Blocks while
    // another program saves the same file.
    bool save(const std::vector<std::pair<std::string, Value>> &values) override;

private:
    std::string m_path;
};

} // namespace kt::settings
