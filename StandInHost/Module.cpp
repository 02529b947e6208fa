// Module loading: the POSIX loader (dlopen/dlsym) behind ModuleLoader, and the
// search for the module beside a program.
#include "Module.h"

#include <sys/stat.h>

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <vector>

namespace standin {

namespace {

class PosixLibrary : public LoadedLibrary {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { dlclose(handle_); }
    PosixLibrary(const PosixLibrary&) = delete;
    PosixLibrary& operator=(const PosixLibrary&) = delete;
    void* symbol(const char* name) const override { return dlsym(handle_, name); }

private:
    void* handle_;
};

class PosixLoader : public ModuleLoader {
public:
    std::unique_ptr<LoadedLibrary> open(const std::string& path, std::string* error) const override {
        // RTLD_LOCAL: the module's symbols stay out of the global namespace,
        // as in a host that loads many effects side by side.
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            if (error) {
                const char* why = dlerror();
                *error = why ? why : ("cannot load " + path);
            }
            return nullptr;
        }
        return std::make_unique<PosixLibrary>(handle);
    }
};

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

const ModuleLoader& ModuleLoader::platform() {
    static const PosixLoader loader;
    return loader;
}

Module::Module(std::unique_ptr<LoadedLibrary> library, PF_EntryPointFunc entry, std::string path)
    : library_(std::move(library)), entry_(entry), path_(std::move(path)) {}

std::shared_ptr<Module> Module::load(const std::string& path, std::string* error, const ModuleLoader& loader) {
    std::unique_ptr<LoadedLibrary> library = loader.open(path, error);
    if (!library) {
        return nullptr;
    }
    auto entry = reinterpret_cast<PF_EntryPointFunc>(library->symbol(PF_ENTRY_POINT_NAME));
    if (!entry) {
        if (error) {
            *error = path + " has no " PF_ENTRY_POINT_NAME;
        }
        return nullptr;
    }
    return std::make_shared<Module>(std::move(library), entry, path);
}

std::string findModuleBeside(const std::string& programPath, const std::string& fileName) {
    std::string dir = ".";
    const auto slash = programPath.find_last_of('/');
    if (slash != std::string::npos) {
        dir = programPath.substr(0, slash);
    }
    const std::vector<std::string> candidates = {
        dir + "/" + fileName,
        dir + "/../MorvekSuites/Exposure/" + fileName,
        dir + "/../../MorvekSuites/Exposure/" + fileName,
    };
    for (const std::string& c : candidates) {
        if (exists(c)) {
            char resolved[PATH_MAX];
            return realpath(c.c_str(), resolved) ? std::string(resolved) : c;
        }
    }
    return candidates.front();
}

} // namespace standin
