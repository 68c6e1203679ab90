#pragma once
// Run-time libraries loaded by full path, operations bound by name.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qn::platform {

class LoadedLibrary {
  public:
    virtual ~LoadedLibrary() = default;
    // nullptr when the library has no such operation.
    virtual void* symbol(const char* name) const = 0;
    // Unloads the library; false when the system refused. Safe to call once only.
    virtual bool release() = 0;
};

class LibraryLoader {
  public:
    virtual ~LibraryLoader() = default;
    // nullptr when the file is missing or is no loadable library.
    virtual std::unique_ptr<LoadedLibrary> load(const std::filesystem::path& fullPath) = 0;
};

// Binds an operation to its C type; nullptr stays nullptr.
template <class Fn>
Fn bindOperation(const LoadedLibrary& library, const char* name) {
    return reinterpret_cast<Fn>(library.symbol(name));
}

class DlLibraryLoader final : public LibraryLoader {
  public:
    std::unique_ptr<LoadedLibrary> load(const std::filesystem::path& fullPath) override;
};

// Test double: libraries are tables of name → address registered under a path.
class FakeLibraryLoader final : public LibraryLoader {
  public:
    struct Spec {
        std::map<std::string, void*> symbols;
        bool releaseFails = false;
    };
    void add(const std::filesystem::path& path, Spec spec);
    std::unique_ptr<LoadedLibrary> load(const std::filesystem::path& fullPath) override;

    std::vector<std::string> loadedPaths() const;
    std::vector<std::string> releasedPaths() const;

  private:
    friend class FakeLibrary;
    mutable std::mutex mutex_;
    std::map<std::string, Spec> specs_;
    std::vector<std::string> loaded_;
    std::vector<std::string> released_;
};

template <class Fn>
void* symbolAddress(Fn fn) {
    return reinterpret_cast<void*>(fn);
}

}  // namespace qn::platform
