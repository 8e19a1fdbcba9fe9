#include "discovery/lzw.h"

#include <optional>

namespace vandry {

namespace {
constexpr unsigned kResetCode = 256;
constexpr unsigned kEndCode = 257;
constexpr unsigned kFirstFreeCode = 258;
constexpr unsigned kMinWidth = 9;
constexpr unsigned kMaxWidth = 14;
constexpr unsigned kDictionarySize = 1u << kMaxWidth;

// The decoder's dictionary count and code width. The encoder keeps one too and feeds it every
// code it writes, so that it always writes exactly the width the decoder is about to read.
class CodeSchedule {
public:
    unsigned width() const { return width_; }
    unsigned nextFree() const { return next_; }
    bool atStart() const { return atStart_; }

    void reset()
    {
        width_ = kMinWidth;
        next_ = kFirstFreeCode;
        atStart_ = true;
    }

    // A data code went by. Returns true when it adds a dictionary entry, at nextFree() before the call.
    bool step()
    {
        if (atStart_) {
            atStart_ = false;
            return false;
        }
        if (next_ == kDictionarySize)
            return false;
        ++next_;
        if (next_ == (1u << width_) - 1 && width_ < kMaxWidth)
            ++width_;
        return true;
    }

private:
    unsigned width_ = kMinWidth;
    unsigned next_ = kFirstFreeCode;
    bool atStart_ = true;
};

class BitReader {
public:
    explicit BitReader(ByteSpan input) : input_(input) {}

    std::optional<unsigned> read(unsigned width)
    {
        while (bits_ < width) {
            if (pos_ == input_.size())
                return std::nullopt;
            acc_ = (acc_ << 8) | input_[pos_++];
            bits_ += 8;
        }
        bits_ -= width;
        return (acc_ >> bits_) & ((1u << width) - 1);
    }

private:
    ByteSpan input_;
    std::size_t pos_ = 0;
    std::uint32_t acc_ = 0;
    unsigned bits_ = 0;
};

class BitWriter {
public:
    void write(unsigned code, unsigned width)
    {
        acc_ = (acc_ << width) | code;
        bits_ += width;
        while (bits_ >= 8) {
            bits_ -= 8;
            out_.push_back(static_cast<std::uint8_t>(acc_ >> bits_));
        }
    }
    std::vector<std::uint8_t> finish()
    {
        if (bits_ > 0)
            out_.push_back(static_cast<std::uint8_t>(acc_ << (8 - bits_)));
        return std::move(out_);
    }

private:
    std::vector<std::uint8_t> out_;
    std::uint32_t acc_ = 0;
    unsigned bits_ = 0;
};

// Dictionary strings as chains of (prefix code, last byte) with their first bytes and lengths.
// Entries grow with the data (codes 258 and up, in order), so a short stream costs little.
class DecodeDictionary {
public:
    std::uint8_t firstByte(unsigned code) const
    {
        return code < kResetCode ? static_cast<std::uint8_t>(code) : entry(code).first;
    }
    // Defines the next code as the string of `prefix` followed by `byte`.
    void add(unsigned prefix, std::uint8_t byte)
    {
        const std::uint32_t prefixLength = prefix < kResetCode ? 1 : entry(prefix).length;
        entries_.push_back({static_cast<std::uint16_t>(prefix), byte, firstByte(prefix), prefixLength + 1});
    }
    void clear() { entries_.clear(); }

    // Appends the string of `code`; false when that would exceed `capacity`.
    bool append(unsigned code, std::vector<std::uint8_t>& out, std::size_t capacity) const
    {
        const std::size_t length = code < kResetCode ? 1 : entry(code).length;
        if (length > capacity - out.size())
            return false;
        out.resize(out.size() + length);
        auto it = out.end();
        for (; code >= kFirstFreeCode; code = entry(code).prefix)
            *--it = entry(code).last;
        *--it = static_cast<std::uint8_t>(code);
        return true;
    }

private:
    struct Entry {
        std::uint16_t prefix;
        std::uint8_t last;
        std::uint8_t first;
        std::uint32_t length;
    };
    const Entry& entry(unsigned code) const { return entries_[code - kFirstFreeCode]; }

    std::vector<Entry> entries_;
};

// The children of each string as a linked list (first child, next sibling): no hashing, and the
// table grows with the data.
class EncodeDictionary {
public:
    EncodeDictionary() { clear(); }

    std::optional<unsigned> find(unsigned prefix, std::uint8_t byte) const
    {
        for (unsigned code = nodes_[prefix].firstChild; code != 0; code = nodes_[code].nextSibling)
            if (nodes_[code].last == byte)
                return code;
        return std::nullopt;
    }
    // Defines the next code (258 and up, in order) as the string of `prefix` followed by `byte`.
    void add(unsigned prefix, std::uint8_t byte)
    {
        const auto code = static_cast<std::uint16_t>(nodes_.size());
        nodes_.push_back({0, nodes_[prefix].firstChild, byte});
        nodes_[prefix].firstChild = code;
    }
    unsigned nextFree() const { return static_cast<unsigned>(nodes_.size()); }
    void clear() { nodes_.assign(kFirstFreeCode, Node{}); }

private:
    struct Node {
        std::uint16_t firstChild = 0; // 0: none, since every added code is at least 258
        std::uint16_t nextSibling = 0;
        std::uint8_t last = 0;
    };
    std::vector<Node> nodes_;
};
} // namespace

LzwResult lzwDecode(ByteSpan input, std::size_t capacity)
{
    BitReader reader(input);
    CodeSchedule schedule;
    DecodeDictionary dictionary;
    std::vector<std::uint8_t> out;
    unsigned previous = 0;
    for (;;) {
        const auto code = reader.read(schedule.width());
        if (!code)
            return {LzwStatus::Corrupt, {}};
        if (*code == kEndCode)
            return {LzwStatus::Ok, std::move(out)};
        if (*code == kResetCode) {
            schedule.reset();
            dictionary.clear();
            continue;
        }
        if (schedule.atStart()) {
            if (*code > 255)
                return {LzwStatus::Corrupt, {}};
        } else if (*code > schedule.nextFree()) {
            return {LzwStatus::Corrupt, {}};
        }
        // Known code: its own first byte; the KwKwK code (== next free): the previous string's.
        const bool known = schedule.atStart() || *code < schedule.nextFree();
        const std::uint8_t first = dictionary.firstByte(known ? *code : previous);
        if (schedule.step())
            dictionary.add(previous, first);
        if (!dictionary.append(*code, out, capacity))
            return {LzwStatus::Overflow, {}};
        previous = *code;
    }
}

std::vector<std::uint8_t> lzwEncode(ByteSpan input)
{
    BitWriter writer;
    CodeSchedule schedule;
    auto emit = [&](unsigned code) {
        writer.write(code, schedule.width());
        if (code == kResetCode)
            schedule.reset();
        else if (code != kEndCode)
            schedule.step();
    };
    if (!input.empty()) {
        EncodeDictionary dictionary;
        unsigned current = input[0];
        for (std::size_t i = 1; i < input.size(); ++i) {
            if (const auto code = dictionary.find(current, input[i])) {
                current = *code;
                continue;
            }
            emit(current);
            dictionary.add(current, input[i]);
            if (dictionary.nextFree() == kDictionarySize) {
                emit(kResetCode);
                dictionary.clear();
            }
            current = input[i];
        }
        emit(current);
    }
    emit(kEndCode);
    return writer.finish();
}

} // namespace vandry
