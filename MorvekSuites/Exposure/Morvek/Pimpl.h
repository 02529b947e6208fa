// Owning, copyable holders for hidden implementations. A class keeps an
// ImplHolderBase* and gets deep copies of its implementation through Clone
// (new holder, new copy) and CopyTo (assign into an existing holder).
#ifndef MORVEK_PIMPL_H
#define MORVEK_PIMPL_H

#include <memory>
#include <utility>

namespace Morvek {

class ImplHolderBase {
public:
    ImplHolderBase() = default;
    ImplHolderBase(const ImplHolderBase&) = delete;
    ImplHolderBase& operator=(const ImplHolderBase&) = delete;
    virtual ~ImplHolderBase() = default;

    // A new holder with its own copy of the implementation; the caller owns it.
    virtual ImplHolderBase* Clone() const = 0;
    // Copy-assigns this implementation into the one held by `other`.
    virtual void CopyTo(ImplHolderBase* other) const = 0;
    virtual void* GetPtr() = 0;
    virtual const void* GetPtr() const = 0;
};

template <class T> class ImplHolder : public ImplHolderBase {
public:
    // Takes ownership of `p`.
    explicit ImplHolder(T* p) noexcept : ptr(p) {}
    // The same from a unique_ptr: `new ImplHolder<T>(std::move(owned))` leaves
    // `owned` in charge of the object if the holder cannot be allocated.
    explicit ImplHolder(std::unique_ptr<T> p) noexcept : ptr(std::move(p)) {}
    ~ImplHolder() override = default;

    ImplHolderBase* Clone() const override {
        std::unique_ptr<T> copy(new T(*ptr));
        return new ImplHolder<T>(std::move(copy));
    }

    // A holder of another implementation type (or none) is left alone.
    void CopyTo(ImplHolderBase* other) const override {
        auto* target = dynamic_cast<ImplHolder<T>*>(other);
        if (target != nullptr && target != this) {
            *target->ptr = *ptr;
        }
    }

    void* GetPtr() override { return ptr.get(); }
    const void* GetPtr() const override { return ptr.get(); }

private:
    std::unique_ptr<T> ptr;
};

} // namespace Morvek

#endif
