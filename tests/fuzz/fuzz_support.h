#pragma once
// Helpers shared by the fuzz targets.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace qn::fuzz {

// A fresh object for every run, built in storage that lives across runs: under the fuzzing
// sanitizers a heap allocation of a large record costs more than the run itself (each one
// lands on new pages while freed memory waits in quarantine).
template <class T>
class Fresh {
  public:
    Fresh() = default;
    Fresh(const Fresh&) = delete;
    Fresh& operator=(const Fresh&) = delete;
    ~Fresh() { reset(); }

    template <class... Args>
    T& make(Args&&... args) {
        reset();
        object_ = std::construct_at(reinterpret_cast<T*>(storage_), std::forward<Args>(args)...);
        return *object_;
    }

  private:
    void reset() {
        if (object_ != nullptr) std::destroy_at(std::exchange(object_, nullptr));
    }
    alignas(T) std::byte storage_[sizeof(T)];
    T* object_ = nullptr;
};

}  // namespace qn::fuzz
