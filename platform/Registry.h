// A small file-backed registry with the open, create, query and set semantics
// of the Windows registry, for the one setting the tool keeps.
//
// HKEY_LOCAL_MACHINE maps to a system-wide root: $LYNX_REGISTRY_ROOT when set
// (tests), else /var/lib/lynx/registry. A key is a folder below the root; its
// values live in the file "values" of that folder, one line per value
// ("name<TAB>type<TAB>hex bytes"). Every write replaces the file atomically.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lynx::platform {

enum class RegistryValueType : uint32_t { None = 0, String = 1, Binary = 3, Dword = 4 };

struct RegistryValue {
    RegistryValueType type = RegistryValueType::None;
    std::vector<uint8_t> data;
};

class RegistryKey {
public:
    // Opens an existing key, subkeys separated by backslashes. With all-access
    // rights (the default) its folder must be writable by this user; to read,
    // readable is enough, so that a value an administrator set holds for
    // every user.
    enum class Access { All, Read };
    static std::optional<RegistryKey> Open(const std::string& subKey, Access access = Access::All);
    // Creates the key (and its parents); nullopt when that is not allowed.
    static std::optional<RegistryKey> Create(const std::string& subKey);

    std::optional<RegistryValue> Query(const std::string& name) const;
    bool Set(const std::string& name, const RegistryValue& value);
    bool SetDword(const std::string& name, uint32_t value);
    // The first four bytes of a value, little-endian, whatever its stored type
    // (four bytes are four bytes); nullopt when absent or shorter.
    std::optional<uint32_t> QueryDword(const std::string& name) const;

    const std::string& path() const { return m_path; }

private:
    explicit RegistryKey(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

// The folder that stands for HKEY_LOCAL_MACHINE.
std::string RegistryRoot();

} // namespace lynx::platform
