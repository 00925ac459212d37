// The registry: a small tree of keys with named text values, kept in one
// file. The file is named by CADB_REGISTRY, by default
// $XDG_CONFIG_HOME/cadb/registry (~/.config/cadb/registry); nothing is
// written outside it but its replacement, which is written beside it and
// renamed over it, so a reader sees the old or the new tree, never half.
// Writers hold a lock on the file's folder for their whole read-edit-write.
// Key paths are '\'-separated ("HKCR\CLSID\{...}\InprocServer32"), matched
// without regard to case as on the original system; "" names a key's default
// value.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"

namespace cadb::com {

inline constexpr const char* kRegistryEnv = "CADB_REGISTRY";
inline constexpr const char* kLocalMachine = "HKLM";
// No registry of in-process servers comes near this.
inline constexpr long kMaxRegistrySize = 1024 * 1024;

// The registry file's path; empty when neither the variable nor a home
// directory gives one.
CADB_COM_API std::string registry_path();

class CADB_COM_API Registry {
  public:
    // The tree in the file; a missing file is an empty tree, an unreadable or
    // malformed one nullopt, and so is anything but a regular file (a named
    // pipe, a device) and a file larger than kMaxRegistrySize.
    static std::optional<Registry> read(const std::string& path);
    static std::optional<Registry> parse(std::string_view text);
    std::string serialise() const;

    bool key_exists(std::string_view key) const;
    std::optional<std::string> value(std::string_view key, std::string_view name = "") const;
    bool has_values(std::string_view key) const;
    // The names of the key's direct subkeys.
    std::vector<std::string> subkeys(std::string_view key) const;

    // Creates the key and every key above it.
    void create_key(std::string_view key);
    // Creates the key when needed.
    void set_value(std::string_view key, std::string_view name, std::string_view data);
    void remove_value(std::string_view key, std::string_view name);
    // The key with every key below it.
    void remove_key(std::string_view key);

  private:
    struct NoCase {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using Values = std::map<std::string, std::string, NoCase>;
    std::map<std::string, Values, NoCase> keys_;
};

// Reads the registry, lets edit change it and writes it back, all under the
// writers' lock. False when the registry cannot be read or written or edit
// returns false (nothing is written then).
CADB_COM_API bool registry_update(const std::function<bool(Registry&)>& edit,
                                  const std::string& path);

// The text of a value below the local machine's root key (HKLM) in
// the registry file, copied with its terminating zero into out (size bytes);
// 1 when the value was there and fitted, else 0 and out untouched. Made for
// the library's hooks that read machine settings (the touch-memory port
// defaults), which the library itself cannot read.
CADB_COM_API int registry_read_machine_text(const char* key, const char* name, char* out, int size);

}  // namespace cadb::com
