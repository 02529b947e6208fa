// Pixel worlds and the process-wide registry that lets the host recognise
// the world records a module passes back.
#include "World.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace standin {

namespace {

constexpr std::size_t kGuardBytes = 64;
constexpr std::uint8_t kGuardValue = 0xA5;
constexpr std::size_t kAlign = 16;

struct Registry {
    std::mutex mu;
    std::map<const PF_EffectWorld*, World*> byRecord;
    std::map<const void*, World*> byData;
};

Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

int pixelSizeOf(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB32:
    case PF_PixelFormat_BGRA32:
        return 4;
    case PF_PixelFormat_ARGB64:
        return 8;
    case PF_PixelFormat_ARGB128:
    case PF_PixelFormat_BGRA128:
        return 16;
    default:
        return 0;
    }
}

int bitsPerChannelOf(PF_PixelFormat format) {
    switch (pixelSizeOf(format)) {
    case 4:
        return 8;
    case 8:
        return 16;
    case 16:
        return 32;
    default:
        return 0;
    }
}

bool isBgraFormat(PF_PixelFormat format) {
    return format == PF_PixelFormat_BGRA32 || format == PF_PixelFormat_BGRA128;
}

PF_PixelFormat formatForBits(int bitsPerChannel) {
    switch (bitsPerChannel) {
    case 16:
        return PF_PixelFormat_ARGB64;
    case 32:
        return PF_PixelFormat_ARGB128;
    default:
        return PF_PixelFormat_ARGB32;
    }
}

World::World(A_long width, A_long height, PF_PixelFormat format, A_long extraRowBytes, int pixelSizeOverride)
    : format_(format), pixelSize_(pixelSizeOf(format)) {
    if (pixelSize_ == 0) {
        pixelSize_ = pixelSizeOverride > 0 ? pixelSizeOverride : 4;
    }
    if (width < 0) {
        width = 0;
    }
    if (height < 0) {
        height = 0;
    }
    if (extraRowBytes < 0) {
        extraRowBytes = 0;
    }
    const std::size_t rowbytes = static_cast<std::size_t>(width) * pixelSize_ + extraRowBytes;
    byteSize_ = rowbytes * static_cast<std::size_t>(height);
    storage_.reset(static_cast<std::uint8_t*>(std::calloc(byteSize_ + kGuardBytes + kAlign, 1)));
    if (!storage_) {
        throw std::bad_alloc();
    }
    const auto base = reinterpret_cast<std::uintptr_t>(storage_.get());
    data_ = storage_.get() + ((kAlign - base % kAlign) % kAlign);
    std::memset(data_ + byteSize_, kGuardValue, kGuardBytes);

    def_.world_flags = PF_WorldFlag_WRITEABLE | (bitsPerChannelOf(format) == 16 ? PF_WorldFlag_DEEP : 0);
    def_.data = reinterpret_cast<PF_PixelPtr>(data_);
    def_.rowbytes = static_cast<A_long>(rowbytes);
    def_.width = width;
    def_.height = height;
    def_.extent_hint = PF_LRect{0, 0, width, height};
    def_.pix_aspect_ratio = PF_RationalScale{1, 1};

    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    r.byRecord[&def_] = this;
    r.byData[data_] = this;
}

World::~World() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    r.byRecord.erase(&def_);
    auto it = r.byData.find(data_);
    if (it != r.byData.end() && it->second == this) {
        r.byData.erase(it);
    }
}

void World::Free::operator()(std::uint8_t* p) const {
    std::free(p);
}

void World::setOrigin(A_long x, A_long y) {
    def_.origin_x = x;
    def_.origin_y = y;
}

void World::fillBytes(std::uint8_t value) {
    std::memset(data_, value, byteSize_);
}

void World::fillRandom(std::uint32_t seed) {
    std::uint32_t s = seed ? seed : 0x9E3779B9u;
    for (std::size_t i = 0; i < byteSize_; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        data_[i] = static_cast<std::uint8_t>(s >> 24);
    }
}

bool World::guardIntact() const {
    for (std::size_t i = 0; i < kGuardBytes; ++i) {
        if (data_[byteSize_ + i] != kGuardValue) {
            return false;
        }
    }
    return true;
}

bool World::samePixels(const World& other) const {
    if (width() != other.width() || height() != other.height() || pixelSize_ != other.pixelSize_) {
        return false;
    }
    const std::size_t n = static_cast<std::size_t>(width()) * pixelSize_;
    for (A_long y = 0; y < height(); ++y) {
        if (std::memcmp(row(y), other.row(y), n) != 0) {
            return false;
        }
    }
    return true;
}

bool World::covers(const PF_EffectWorld& record) const {
    if (reinterpret_cast<const std::uint8_t*>(record.data) != data_ || record.width < 0 || record.height < 0 ||
        record.rowbytes < 0) {
        return false;
    }
    if (record.width == 0 || record.height == 0) {
        return true;
    }
    const std::size_t rowUse = static_cast<std::size_t>(record.width) * pixelSize_;
    if (static_cast<std::size_t>(record.rowbytes) < rowUse) {
        return false;
    }
    const std::size_t need = static_cast<std::size_t>(record.rowbytes) * (record.height - 1) + rowUse;
    return need <= byteSize_;
}

World* World::find(const PF_EffectWorld* record) {
    if (!record) {
        return nullptr;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    auto byRecord = r.byRecord.find(record);
    if (byRecord != r.byRecord.end()) {
        return byRecord->second;
    }
    auto byData = r.byData.find(record->data);
    if (byData != r.byData.end() && byData->second->covers(*record)) {
        return byData->second;
    }
    return nullptr;
}

} // namespace standin
