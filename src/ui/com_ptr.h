#pragma once

// Owner of one reference to a COM object: Release() when it goes.

#include <utility>

namespace merovane::ui {

template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    ~com_ptr() { reset(); }

    com_ptr(const com_ptr&) = delete;
    com_ptr& operator=(const com_ptr&) = delete;

    com_ptr(com_ptr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    com_ptr& operator=(com_ptr&& other) noexcept
    {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, nullptr);
        }
        return *this;
    }

    [[nodiscard]] T* get() const noexcept { return value_; }
    T* operator->() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != nullptr; }

    void reset() noexcept
    {
        if (T* old = std::exchange(value_, nullptr)) {
            old->Release();
        }
    }

    // For the out-parameter of CoCreateInstance and QueryInterface: releases
    // what is held first.
    void** put_void() noexcept
    {
        reset();
        return reinterpret_cast<void**>(&value_);
    }

private:
    T* value_ = nullptr;
};

} // namespace merovane::ui
