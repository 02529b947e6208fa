// Loading an effect module and finding its entry point.
//
// The platform loader sits behind ModuleLoader: dlopen/dlsym here, a
// LoadLibrary/GetProcAddress loader on Windows. Everything else in the stand-in
// host only sees Module.
#ifndef STANDIN_MODULE_H
#define STANDIN_MODULE_H

#include "HostAPI.h"

#include <memory>
#include <string>

namespace standin {

// A loaded shared object; unloads on destruction.
class LoadedLibrary {
public:
    virtual ~LoadedLibrary() = default;
    // Address of an exported symbol, or null.
    virtual void* symbol(const char* name) const = 0;
};

class ModuleLoader {
public:
    virtual ~ModuleLoader() = default;
    // Loads the library at `path`; on failure returns null and sets *error.
    virtual std::unique_ptr<LoadedLibrary> open(const std::string& path, std::string* error) const = 0;
    // The loader of this platform.
    static const ModuleLoader& platform();
};

class Module {
public:
    // Loads `path` and resolves EntryPointFunc. Null on failure, with the
    // reason in *error (when error is not null).
    static std::shared_ptr<Module> load(const std::string& path, std::string* error = nullptr,
                                        const ModuleLoader& loader = ModuleLoader::platform());

    PF_EntryPointFunc entryPoint() const { return entry_; }
    const std::string& path() const { return path_; }
    // Address of any exported symbol (tests use it to prove that nothing but
    // the entry point is exported).
    void* symbol(const char* name) const { return library_->symbol(name); }

    Module(std::unique_ptr<LoadedLibrary> library, PF_EntryPointFunc entry, std::string path);

private:
    std::unique_ptr<LoadedLibrary> library_;
    PF_EntryPointFunc entry_;
    std::string path_;
};

// Where the module is most likely to be found for a program at `programPath`
// (argv[0] or /proc/self/exe): beside the program, then in the build tree's
// module folder relative to it. Returns the first existing candidate, or the
// first candidate when none exists.
std::string findModuleBeside(const std::string& programPath, const std::string& fileName = "MorvekExposure.so");

} // namespace standin

#endif
