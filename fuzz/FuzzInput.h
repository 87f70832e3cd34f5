// Reading a fuzzer's bytes as the pieces a target needs, the same way in
// libFuzzer and in the replay of the corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(reinterpret_cast<const char*>(data)), m_left(size) {}

    size_t Left() const { return m_left; }
    uint8_t Byte()
    {
        if (m_left == 0)
            return 0;
        --m_left;
        return static_cast<uint8_t>(*m_data++);
    }
    // Up to count bytes (fewer at the end).
    std::string Bytes(size_t count)
    {
        count = count < m_left ? count : m_left;
        std::string out(m_data, count);
        m_data += count;
        m_left -= count;
        return out;
    }
    std::string Rest() { return Bytes(m_left); }
    // Exactly sizeof(T) bytes as they lie in memory, zero-filled past the end.
    template <class T>
    T Raw()
    {
        T value{};
        const std::string bytes = Bytes(sizeof value);
        std::memcpy(&value, bytes.data(), bytes.size());
        return value;
    }

private:
    const char* m_data;
    size_t m_left;
};
