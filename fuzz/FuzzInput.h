// Reads typed values off the front of a fuzzer's input; past the end every
// read yields zeros, so any input, however short, describes one case.
#ifndef MORVEK_FUZZ_FUZZINPUT_H
#define MORVEK_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <class T> T take() {
        T value{};
        unsigned char bytes[sizeof(T)] = {};
        for (std::size_t i = 0; i < sizeof(T) && pos_ < size_; ++i) {
            bytes[i] = data_[pos_++];
        }
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    // An integer in lo..hi (hi >= lo).
    int range(int lo, int hi) {
        const std::uint32_t span = static_cast<std::uint32_t>(hi - lo) + 1u;
        return lo + static_cast<int>(take<std::uint32_t>() % span);
    }
    bool flag() { return (take<std::uint8_t>() & 1u) != 0; }
    // What is left of the input.
    const std::uint8_t* rest() const { return data_ + pos_; }
    std::size_t restSize() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace fuzz

#endif
