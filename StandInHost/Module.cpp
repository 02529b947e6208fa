// Module loading: the platform's loader behind ModuleLoader (dlopen/dlsym, or
// LoadLibrary/GetProcAddress on Windows), and the search for the module beside
// a program.
#include "Module.h"

#include <sys/stat.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <limits.h>
#include <stdlib.h>

#include <vector>

namespace standin {

namespace {

#ifdef _WIN32

std::wstring widen(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
    }
    return w;
}

class WindowsLibrary : public LoadedLibrary {
public:
    explicit WindowsLibrary(HMODULE handle) : handle_(handle) {}
    ~WindowsLibrary() override { FreeLibrary(handle_); }
    WindowsLibrary(const WindowsLibrary&) = delete;
    WindowsLibrary& operator=(const WindowsLibrary&) = delete;
    void* symbol(const char* name) const override { return reinterpret_cast<void*>(GetProcAddress(handle_, name)); }

private:
    HMODULE handle_;
};

class WindowsLoader : public ModuleLoader {
public:
    std::unique_ptr<LoadedLibrary> open(const std::string& path, std::string* error) const override {
        HMODULE handle = LoadLibraryW(widen(path).c_str());
        if (!handle) {
            if (error) {
                *error = "cannot load " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
            }
            return nullptr;
        }
        return std::make_unique<WindowsLibrary>(handle);
    }
};
using PlatformLoader = WindowsLoader;

#else

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

using PlatformLoader = PosixLoader;

#endif

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

const ModuleLoader& ModuleLoader::platform() {
    static const PlatformLoader loader;
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
#ifdef _WIN32
    const auto slash = programPath.find_last_of("/\\");
#else
    const auto slash = programPath.find_last_of('/');
#endif
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
#ifdef _WIN32
            char resolved[_MAX_PATH];
            return _fullpath(resolved, c.c_str(), sizeof resolved) ? std::string(resolved) : c;
#else
            char resolved[PATH_MAX];
            return realpath(c.c_str(), resolved) ? std::string(resolved) : c;
#endif
        }
    }
    return candidates.front();
}

} // namespace standin
