#include "platform/library.h"

#include <dlfcn.h>

namespace qn::platform {

namespace {

class DlLibrary final : public LoadedLibrary {
  public:
    explicit DlLibrary(void* handle) : handle_(handle) {}
    ~DlLibrary() override {
        if (handle_ != nullptr) dlclose(handle_);
    }
    void* symbol(const char* name) const override {
        return handle_ == nullptr ? nullptr : dlsym(handle_, name);
    }
    bool release() override {
        if (handle_ == nullptr) return false;
        int rc = dlclose(handle_);
        handle_ = nullptr;
        return rc == 0;
    }

  private:
    void* handle_;
};

}  // namespace

std::unique_ptr<LoadedLibrary> DlLibraryLoader::load(const std::filesystem::path& fullPath) {
    // Only a full path: never let the dynamic linker search for a library of that name.
    if (!fullPath.is_absolute()) return nullptr;
    void* handle = dlopen(fullPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    return std::make_unique<DlLibrary>(handle);
}

class FakeLibrary final : public LoadedLibrary {
  public:
    FakeLibrary(FakeLibraryLoader& owner, std::string path, FakeLibraryLoader::Spec spec)
        : owner_(owner), path_(std::move(path)), spec_(std::move(spec)) {}
    void* symbol(const char* name) const override {
        auto it = spec_.symbols.find(name);
        return it == spec_.symbols.end() ? nullptr : it->second;
    }
    bool release() override {
        std::lock_guard lock(owner_.mutex_);
        owner_.released_.push_back(path_);
        return !spec_.releaseFails;
    }

  private:
    FakeLibraryLoader& owner_;
    std::string path_;
    FakeLibraryLoader::Spec spec_;
};

void FakeLibraryLoader::add(const std::filesystem::path& path, Spec spec) {
    std::lock_guard lock(mutex_);
    specs_[path.string()] = std::move(spec);
}

std::unique_ptr<LoadedLibrary> FakeLibraryLoader::load(const std::filesystem::path& fullPath) {
    std::lock_guard lock(mutex_);
    auto it = specs_.find(fullPath.string());
    if (it == specs_.end()) return nullptr;
    loaded_.push_back(it->first);
    return std::make_unique<FakeLibrary>(*this, it->first, it->second);
}

std::vector<std::string> FakeLibraryLoader::loadedPaths() const {
    std::lock_guard lock(mutex_);
    return loaded_;
}

std::vector<std::string> FakeLibraryLoader::releasedPaths() const {
    std::lock_guard lock(mutex_);
    return released_;
}

}  // namespace qn::platform
