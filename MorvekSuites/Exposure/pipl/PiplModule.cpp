// Finding a built module's property list where this platform's host looks
// for it: in the module's resources on Windows, beside the module elsewhere.
#include "PiplReader.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace Morvek {
namespace Pipl {

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) {
        return std::wstring();
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
    }
    return w;
}

bool fail(std::string* error, const std::string& why) {
    if (error) {
        *error = why;
    }
    return false;
}

} // namespace

std::string modulePropertyListLocation(const std::string& modulePath) {
    return modulePath + " (resource " + kWindowsResourceType + " " + std::to_string(kResourceId) + ")";
}

bool readModulePropertyList(const std::string& modulePath, PropertyList& out, std::string* error) {
    // Mapped as a resource image only: nothing of the module runs, and its
    // imports are not resolved.
    HMODULE module =
        LoadLibraryExW(widen(modulePath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!module) {
        return fail(error, "cannot open " + modulePath + " (error " + std::to_string(GetLastError()) + ")");
    }
    bool ok = false;
    std::string why;
    HRSRC info = FindResourceExA(module, kWindowsResourceType, MAKEINTRESOURCEA(kResourceId),
                                 static_cast<WORD>(kWindowsLanguage));
    if (!info) {
        info = FindResourceA(module, MAKEINTRESOURCEA(kResourceId), kWindowsResourceType); // any language
    }
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        why = "no resource " + modulePropertyListLocation(modulePath).substr(modulePath.size() + 1);
    } else {
        ok = parsePropertyList(static_cast<const uint8_t*>(bytes), SizeofResource(module, info), Form::Windows, out,
                               &why);
    }
    FreeLibrary(module);
    return ok || fail(error, modulePath + ": " + why);
}

#else

std::string modulePropertyListLocation(const std::string& modulePath) {
    const size_t slash = modulePath.find_last_of('/');
    const size_t dot = modulePath.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? modulePath.substr(0, dot) : modulePath) + ".pipl";
}

bool readModulePropertyList(const std::string& modulePath, PropertyList& out, std::string* error) {
    return readPropertyListFile(modulePropertyListLocation(modulePath), Form::Windows, out, error);
}

#endif

} // namespace Pipl
} // namespace Morvek
