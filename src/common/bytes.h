#pragma once
// Cursor helpers over byte spans for every wire and file record.
// Integers are little-endian; IPv4 addresses travel in network byte order.
// A reader that runs past its end sets a sticky failure flag and returns zeros,
// so a parser checks ok() once at the end instead of before every field.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace vandry {

using ByteSpan = std::span<const std::uint8_t>;
using MutableByteSpan = std::span<std::uint8_t>;

class ByteReader {
public:
    explicit ByteReader(ByteSpan data) : data_(data) {}

    bool ok() const { return ok_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }

    std::uint8_t u8() { return take(1) ? data_[pos_ - 1] : 0; }
    std::uint16_t u16le() { return static_cast<std::uint16_t>(uintLe(2)); }
    std::uint32_t u32le() { return static_cast<std::uint32_t>(uintLe(4)); }
    std::uint64_t u64le() { return uintLe(8); }
    // An IPv4 address in network byte order, returned as a host-order number (10.0.0.1 == 0x0A000001).
    std::uint32_t ipv4()
    {
        if (!take(4))
            return 0;
        const auto* p = data_.data() + pos_ - 4;
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
    }
    template <std::size_t N> std::array<std::uint8_t, N> bytes()
    {
        std::array<std::uint8_t, N> out{};
        if (take(N))
            std::memcpy(out.data(), data_.data() + pos_ - N, N);
        return out;
    }
    ByteSpan span(std::size_t n) { return take(n) ? data_.subspan(pos_ - n, n) : ByteSpan{}; }
    void skip(std::size_t n) { take(n); }

private:
    bool take(std::size_t n)
    {
        if (!ok_ || data_.size() - pos_ < n) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }
    std::uint64_t uintLe(std::size_t n)
    {
        if (!take(n))
            return 0;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= std::uint64_t{data_[pos_ - n + i]} << (8 * i);
        return v;
    }

    ByteSpan data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// Appends to a growing buffer; records check their encoded size with static_assert'ed constants.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16le(std::uint16_t v) { uintLe(v, 2); }
    void u32le(std::uint32_t v) { uintLe(v, 4); }
    void u64le(std::uint64_t v) { uintLe(v, 8); }
    void ipv4(std::uint32_t v)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
            out_.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    void bytes(ByteSpan b) { out_.insert(out_.end(), b.begin(), b.end()); }
    void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
    std::size_t size() const { return out_.size(); }

private:
    void uintLe(std::uint64_t v, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    std::vector<std::uint8_t>& out_;
};

// In-place little-endian access for fields patched inside an existing buffer.
inline std::uint16_t loadU16le(ByteSpan b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline void storeU16le(MutableByteSpan b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline ByteSpan asBytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

} // namespace vandry
