#include "platform/Registry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace lynx::platform {

namespace {

std::string keyFolder(const std::string& subKey)
{
    std::string path = RegistryRoot() + "/HKEY_LOCAL_MACHINE";
    std::string part;
    for (char c : subKey + "\\") {
        if (c == '\\' || c == '/') {
            // Key names cannot climb out of the root.
            if (!part.empty() && part != "." && part != "..")
                path += "/" + part;
            part.clear();
        } else {
            part += c;
        }
    }
    return path;
}

using ValueMap = std::map<std::string, RegistryValue>;

std::string toHex(const std::vector<uint8_t>& data)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool fromHex(const std::string& text, std::vector<uint8_t>& out)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned v;
        if (std::sscanf(text.c_str() + i, "%2x", &v) != 1)
            return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

ValueMap readValues(const std::string& folder)
{
    ValueMap values;
    std::ifstream in(folder + "/values");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, type, hex;
        if (!std::getline(fields, name, '\t') || !std::getline(fields, type, '\t'))
            continue;
        std::getline(fields, hex);
        RegistryValue value;
        value.type = static_cast<RegistryValueType>(std::strtoul(type.c_str(), nullptr, 10));
        if (fromHex(hex, value.data))
            values[name] = value;
    }
    return values;
}

bool writeValues(const std::string& folder, const ValueMap& values)
{
    // Written beside the file and renamed over it, so that a reader sees the
    // old values or the new ones, never half of them.
    std::string tmp = folder + "/.values." + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out)
            return false;
        for (const auto& [name, value] : values)
            out << name << '\t' << static_cast<uint32_t>(value.type) << '\t' << toHex(value.data) << '\n';
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, folder + "/values", ec);
    if (ec)
        std::remove(tmp.c_str());
    return !ec;
}

} // namespace

std::string RegistryRoot()
{
    if (const char* root = std::getenv("LYNX_REGISTRY_ROOT"); root && *root)
        return root;
    return "/var/lib/lynx/registry";
}

std::optional<RegistryKey> RegistryKey::Open(const std::string& subKey, Access access)
{
    std::string folder = keyFolder(subKey);
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return std::nullopt;
    // All-access rights: a user who cannot write the key cannot open it.
    const int mode = access == Access::All ? R_OK | W_OK | X_OK : R_OK | X_OK;
    if (::access(folder.c_str(), mode) != 0)
        return std::nullopt;
    return RegistryKey(folder);
}

std::optional<RegistryKey> RegistryKey::Create(const std::string& subKey)
{
    std::string folder = keyFolder(subKey);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || ::access(folder.c_str(), R_OK | W_OK | X_OK) != 0)
        return std::nullopt;
    return RegistryKey(folder);
}

std::optional<RegistryValue> RegistryKey::Query(const std::string& name) const
{
    ValueMap values = readValues(m_path);
    auto it = values.find(name);
    if (it == values.end())
        return std::nullopt;
    return it->second;
}

bool RegistryKey::Set(const std::string& name, const RegistryValue& value)
{
    ValueMap values = readValues(m_path);
    values[name] = value;
    return writeValues(m_path, values);
}

std::optional<uint32_t> RegistryKey::QueryDword(const std::string& name) const
{
    const std::optional<RegistryValue> value = Query(name);
    if (!value || value->data.size() < 4)
        return std::nullopt;
    const auto& d = value->data;
    return d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24);
}

bool RegistryKey::SetDword(const std::string& name, uint32_t value)
{
    RegistryValue v;
    v.type = RegistryValueType::Dword;
    for (int i = 0; i < 4; ++i)
        v.data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return Set(name, v);
}

} // namespace lynx::platform
