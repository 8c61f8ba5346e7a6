#pragma once

#include "settings/settings_store.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace kt::settings
{

// The settings key in a registry export file (REGEDIT4 text, UTF-8).
//
// The key counts as opened for full access when the path names a regular file (a symbolic
// link is never followed nor replaced: in a folder shared by a group, a planted link would
// otherwise aim our reads or writes elsewhere), this user may read and write it, and it holds
// the key. Saves rewrite the whole file under an flock on the folder, so that two programs
// saving at once keep each other's values: atomically (a new file renamed over it, so that a
// reader always sees one whole version) wherever the folder takes a new file, else in place,
// where a crash mid-save leaves a file that loads as damaged.
class RegFileStore : public SettingsStore
{
public:
    // Larger files are not settings files: they are neither read nor overwritten.
    static constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

    // How long a save waits for another program's lock on the folder before it fails.
    static constexpr std::chrono::milliseconds kLockWait{2000};

    explicit RegFileStore(std::string path, std::chrono::milliseconds lockWait = kLockWait);

    std::optional<KeyValues> load() override;
    // Creates the folders (0775 less the umask), the file and the key as needed; a file created
    // in a folder its group may write is made 0664. Waits while another program saves the same
    // file, at most lockWait.
    SaveResult save(const std::vector<std::pair<std::string, Value>> &values) override;

private:
    std::string m_path;
    std::chrono::milliseconds m_lockWait;
    bool m_hasWarnedInPlace = false;
};

} // namespace kt::settings
