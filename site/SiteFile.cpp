#include "site/SiteFile.h"

#include "addressing/PlanFile.h"
#include "platform/CodePage.h"
#include "platform/MacKey.h"
#include "platform/Translation.h"
#include "protocol/DeviceTable.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <unordered_map>
#include <utility>

namespace lynx::site {

namespace {

enum Field : size_t { kMac, kIp, kMask, kGateway, kVersion, kLabel, kFieldCount };

// The names a header may give each field: the plan's and this file's own
// (compared without letter case), the window's column titles as its export
// writes them in Chinese, and in English (res/lynx_en.ts).
struct FieldNames {
    const char* key;
    protocol::Column column;
    bool titled;  // whether the window has a column for it
    const char* english;
};
constexpr std::array<FieldNames, kFieldCount> kNames{{
    {"mac", protocol::Column::Mac, true, "mac address"},
    {"ip", protocol::Column::Ip, true, "device ip"},
    {"mask", protocol::Column::Mask, true, "subnet mask"},
    {"gateway", protocol::Column::Gateway, true, "gateway"},
    {"softwareversion", protocol::Column::SoftwareVersion, true, "software version"},
    {"label", protocol::Column::Number, false, nullptr},
}};

std::optional<size_t> FieldOfHeader(const std::string& header)
{
    const std::string lower = addressing::LowerAscii(header);
    for (size_t f = 0; f < kNames.size(); ++f) {
        const FieldNames& names = kNames[f];
        if (lower == names.key || (names.english && lower == names.english) ||
            (names.titled && header == protocol::ColumnTitle(names.column)))
            return f;
    }
    return std::nullopt;
}

// Twelve hex digits, with or without separators (':', '-', '.').
bool IsMac(const std::string& text)
{
    int digits = 0;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            ++digits;
        else if (c != ':' && c != '-' && c != '.')
            return false;
    }
    return digits == 12;
}

// The window's export keeps a text that begins like a formula as text with a
// leading apostrophe (platform::SpreadsheetField): read back, it is the text.
std::string Unprotected(std::string text)
{
    if (text.size() > 1 && text[0] == '\'' && std::string_view("=+-@\t\r").find(text[1]) != std::string_view::npos)
        text.erase(0, 1);
    return text;
}

std::string Text(const char* source, const std::string& a)
{
    return platform::Tr(source).arg(QString::fromStdString(a)).toStdString();
}

std::string Text(const char* source, long long a, long long b = -1)
{
    QString text = platform::Tr(source).arg(a);
    if (b >= 0)
        text = text.arg(b);
    return text.toStdString();
}

// Whether text is well-formed UTF-8: no stray continuation byte, no
// overlong form, no surrogate, nothing above U+10FFFF.
bool IsUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
        const unsigned char lead = byte(i);
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the second byte's range
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else
            return false;
        if (i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char c = byte(i + k);
            if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF))
                return false;
        }
        i += length;
    }
    return true;
}

} // namespace

const PlannedCamera* SiteFile::Find(std::string_view mac) const
{
    const std::string key = platform::MacKey(mac);
    for (const PlannedCamera& camera : cameras)
        if (platform::MacKey(camera.mac) == key)
            return &camera;
    return nullptr;
}

namespace {

// The lines of a site file, one after the other: the header, then a camera a line.
class SiteFileReader {
public:
    explicit SiteFileReader(std::vector<SiteFileFault>* faults) : m_faults(faults) { m_column.fill(-1); }

    // One line; false when no later line can be read.
    bool Line(int line, bool closed, const std::vector<std::string>& fields)
    {
        // Every line after the header counts toward the limit, readable or
        // not: a file of faults is as bounded as a file of cameras.
        if (m_haveHeader && ++m_rows > addressing::kMaxPlanRows) {
            Fault(line, kFieldCount, Text("相机超过 %1 台", addressing::kMaxPlanRows));
            return false;
        }
        if (!closed) {
            Fault(line, kFieldCount, platform::TrUtf8("引号未闭合"));
            // Without its header, no line of the file can be read.
            return std::exchange(m_haveHeader, true);
        }
        if (!m_haveHeader)
            return Header(line, fields);
        if (static_cast<int>(fields.size()) < m_needed) {
            ShortLine(line, fields.size());
            return true;
        }
        Camera(line, fields);
        return true;
    }

    std::optional<SiteFile> End()
    {
        if (!m_haveHeader)
            m_faults->push_back({0, {}, platform::TrUtf8("没有表头行")});
        else if (m_faults->empty() && m_site.cameras.empty())
            m_faults->push_back({0, {}, platform::TrUtf8("文件中没有相机")});
        if (!m_faults->empty())
            return std::nullopt;
        return std::move(m_site);
    }

private:
    void Fault(int line, size_t field, std::string why)
    {
        m_faults->push_back({line, field < kFieldCount ? m_header[field] : std::string(), std::move(why)});
    }

    bool Header(int line, const std::vector<std::string>& fields)
    {
        m_haveHeader = true;
        for (size_t i = 0; i < fields.size(); ++i) {
            const auto field = FieldOfHeader(fields[i]);
            if (field && m_column[*field] < 0) {
                m_column[*field] = static_cast<int>(i);
                m_header[*field] = fields[i];
                m_needed = std::max(m_needed, static_cast<int>(i) + 1);
            }
        }
        if (m_column[kMac] >= 0)
            return true;
        m_header[kMac] = kNames[kMac].key;
        Fault(line, kMac, platform::TrUtf8("表头没有mac列"));
        return false;
    }

    // A line with fewer fields than the header needs: the first column it lacks is named.
    void ShortLine(int line, size_t count)
    {
        size_t missing = kMac;
        for (size_t f = 0; f < kFieldCount; ++f)
            if (m_column[f] >= static_cast<int>(count) && (missing == kMac || m_column[f] < m_column[missing]))
                missing = f;
        Fault(line, missing, Text("只有 %1 个字段，表头有 %2 个", static_cast<long long>(count), m_needed));
    }

    void Camera(int line, const std::vector<std::string>& fields)
    {
        const auto value = [&](size_t field) {
            return m_column[field] < 0 ? std::string() : fields[static_cast<size_t>(m_column[field])];
        };
        PlannedCamera camera;
        camera.line = line;
        camera.mac = value(kMac);
        camera.ip = value(kIp);
        camera.mask = value(kMask);
        camera.gateway = value(kGateway);
        camera.softwareVersion = Unprotected(value(kVersion));
        camera.label = Unprotected(value(kLabel));
        Check(camera);
        m_site.cameras.push_back(std::move(camera));
    }

    void Check(const PlannedCamera& camera)
    {
        const int line = camera.line;
        if (camera.mac.empty())
            Fault(line, kMac, platform::TrUtf8("MAC地址为空"));
        else if (!IsMac(camera.mac))
            Fault(line, kMac, Text("MAC地址“%1”无效", camera.mac));
        else if (const auto [first, added] = m_lineOfMac.emplace(platform::MacKey(camera.mac), line); !added)
            Fault(line, kMac, Text("MAC地址与第 %1 行重复", first->second));
        for (const size_t field : {kIp, kMask, kGateway}) {
            const std::string& address = field == kIp ? camera.ip : field == kMask ? camera.mask : camera.gateway;
            if (!address.empty() && !addressing::DottedIpv4(address))
                Fault(line, field, Text("“%1”不是点分十进制的IPv4地址", address));
        }
        if (const auto ip = addressing::DottedIpv4(camera.ip)) {
            if (const auto [first, added] = m_lineOfIp.emplace(std::to_string(*ip), line); !added)
                Fault(line, kIp, Text("IP地址与第 %1 行重复", first->second));
        }
    }

    std::vector<SiteFileFault>* m_faults;
    SiteFile m_site;
    std::array<int, kFieldCount> m_column;
    std::array<std::string, kFieldCount> m_header;
    bool m_haveHeader = false;
    int m_needed = 0;
    size_t m_rows = 0;
    // The first line holding each MAC and each address, for the repeats.
    std::unordered_map<std::string, int> m_lineOfMac, m_lineOfIp;
};

std::optional<SiteFile> ParseUtf8SiteFile(std::string_view text, std::vector<SiteFileFault>* faults)
{
    SiteFileReader reader(faults);
    addressing::ForEachCsvLine(text, [&reader](int line, bool closed, std::vector<std::string>& fields) {
        return reader.Line(line, closed, fields);
    });
    return reader.End();
}

} // namespace

std::optional<SiteFile> ParseSiteFile(std::string_view text, std::vector<SiteFileFault>* faults)
{
    faults->clear();
    if (text.size() > addressing::kMaxPlanBytes) {
        faults->push_back({0, {}, Text("文件超过 %1 MiB", addressing::kMaxPlanBytes / (1024 * 1024))});
        return std::nullopt;
    }
    if (IsUtf8(text))
        return ParseUtf8SiteFile(text, faults);
    std::optional<SiteFile> site = ParseUtf8SiteFile(platform::Cp936ToUtf8(text), faults);
    if (site)
        site->readAsCp936 = true;
    return site;
}

std::optional<SiteFile> ReadSiteFile(const std::string& path, std::vector<SiteFileFault>* faults)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        const std::string why = std::strerror(errno);
        faults->assign(1, {0, {}, platform::Tr("无法读取“%1”：%2").arg(QString::fromStdString(path), QString::fromStdString(why)).toStdString()});
        return std::nullopt;
    }
    // No more than one byte past the limit is read: a file that large is refused.
    std::string text(addressing::kMaxPlanBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    return ParseSiteFile(text, faults);
}

std::string FaultText(const SiteFileFault& fault)
{
    const QString text = QString::fromStdString(fault.text);
    if (fault.line <= 0)
        return fault.text;
    if (fault.column.empty())
        return platform::Tr("第 %1 行：%2").arg(fault.line).arg(text).toStdString();
    return platform::Tr("第 %1 行，%2 列：%3").arg(QString::number(fault.line), QString::fromStdString(fault.column), text).toStdString();
}

} // namespace lynx::site
