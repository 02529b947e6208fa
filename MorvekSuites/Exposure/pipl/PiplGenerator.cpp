// morvek_pipl_gen: writes the effect's property list and the files that carry
// it into each build, all from MorvekIdentity.h. Runs on the build machine.
//
//   morvek_pipl_gen [--windows FILE] [--rc FILE] [--rsrc FILE]
//                   [--info-plist FILE] [--pkginfo FILE] [--executable NAME]
//
// --windows     the Windows form (little-endian), as the Linux build's
//               MorvekExposure.pipl beside the module
// --rc          a windres script carrying the Windows form
// --rsrc        the macOS form inside a data-fork resource file
// --info-plist  the macOS bundle's Info.plist (CFBundleExecutable = NAME)
// --pkginfo     the macOS bundle's PkgInfo
#include "MorvekIdentity.h"
#include "PiplWriter.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <fstream>
#include <string>

namespace {

void writeFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void writeFile(const std::string& path, const Morvek::Pipl::Bytes& bytes) {
    writeFile(path, bytes.data(), bytes.size());
}

void writeFile(const std::string& path, const std::string& text) {
    writeFile(path, text.data(), text.size());
}

int usage() {
    std::fprintf(stderr, "usage: morvek_pipl_gen [--windows FILE] [--rc FILE] [--rsrc FILE] [--info-plist FILE] "
                         "[--pkginfo FILE] [--executable NAME]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace Morvek::Pipl;
    std::string windows, rc, rsrc, plist, pkginfo;
    std::string executable = Morvek::Identity::kName;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string value = argv[++i];
        if (std::strcmp(arg, "--windows") == 0) {
            windows = value;
        } else if (std::strcmp(arg, "--rc") == 0) {
            rc = value;
        } else if (std::strcmp(arg, "--rsrc") == 0) {
            rsrc = value;
        } else if (std::strcmp(arg, "--info-plist") == 0) {
            plist = value;
        } else if (std::strcmp(arg, "--pkginfo") == 0) {
            pkginfo = value;
        } else if (std::strcmp(arg, "--executable") == 0) {
            executable = value;
        } else {
            return usage();
        }
    }
    try {
        const Bytes windowsList = encodePropertyList(Form::Windows);
        if (!windows.empty()) {
            writeFile(windows, windowsList);
        }
        if (!rc.empty()) {
            writeFile(rc, resourceScript(windowsList));
        }
        if (!rsrc.empty()) {
            writeFile(rsrc, resourceFile(kMacResourceType, kResourceId, encodePropertyList(Form::MacOS)));
        }
        if (!plist.empty()) {
            writeFile(plist, infoPlist(executable));
        }
        if (!pkginfo.empty()) {
            writeFile(pkginfo, pkgInfo());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvek_pipl_gen: %s\n", e.what());
        return 1;
    }
    return 0;
}
