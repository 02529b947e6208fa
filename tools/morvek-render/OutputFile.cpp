// Output files written whole or not at all; see OutputFile.h.
#include "OutputFile.h"

#include "HostImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace MorvekRender {

namespace {

std::string systemError(int code) {
    return std::strerror(code);
}

const char* const kKept = "it exists and --no-clobber keeps it";

// Writes start the disk writing of what they wrote every this many bytes.
constexpr std::uint64_t kFlushBytes = std::uint64_t(8) << 20;

// The temporary files of writes in progress, for removeTemporaryFiles(). The
// lock also covers each rename, so that an interruption never removes a file
// half-way through being put in place.
struct Registry {
    std::mutex lock;
    std::vector<std::string> paths;
};

Registry& registry() {
    static Registry* r = new Registry; // never destroyed: the interruption thread may use it during exit
    return *r;
}

void unregister(const std::string& path) {
    std::vector<std::string>& paths = registry().paths;
    paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".name.partial-PID.ext" (with "-N" after the process id when that is
// taken), keeping the extension so that format detection by name still works.
std::string temporaryName(const std::string& target, int attempt) {
    const std::string name = nameOf(target);
    const std::size_t dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string ext = hasExtension ? name.substr(dot) : std::string();
    std::string text = folderOf(target) + "." + stem + ".partial-" + std::to_string(static_cast<long>(getpid()));
    if (attempt > 0) {
        text += "-" + std::to_string(attempt);
    }
    return text + ext;
}

// Writes (or reads) `size` bytes at `offset`, in pieces and over
// interruptions; returns the bytes moved and, when fewer, the reason in
// *error (0 at the end of a read; a write that takes nothing without an
// error has no more room).
std::size_t transfer(int fd, void* data, std::size_t size, std::uint64_t offset, bool write, int* error) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = std::min<std::size_t>(size - done, std::size_t(1) << 30);
#ifdef _WIN32
        const bool placed = ::_lseeki64(fd, static_cast<__int64>(offset + done), SEEK_SET) >= 0;
        const auto count = static_cast<unsigned>(chunk);
        const long n = !placed ? -1 : write ? ::_write(fd, bytes + done, count) : ::_read(fd, bytes + done, count);
#else
        const auto at = static_cast<off_t>(offset + done);
        const ssize_t n = write ? ::pwrite(fd, bytes + done, chunk, at) : ::pread(fd, bytes + done, chunk, at);
#endif
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            *error = n < 0 ? errno : write ? ENOSPC : 0;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

#ifndef _WIN32

// Follows symbolic links to the file that a write should replace; a link to
// nowhere gives the path where its target would be.
std::string resolveLinks(const std::string& path) {
    std::string target = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return target;
        }
        if (hops == 40) {
            throw ImageError("cannot write '" + path + "': " + systemError(ELOOP));
        }
        std::vector<char> text(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
        if (n < 0 || static_cast<std::size_t>(n) >= text.size()) {
            throw ImageError("cannot write '" + path + "': " + systemError(n < 0 ? errno : ENAMETOOLONG));
        }
        std::string link(text.data(), static_cast<std::size_t>(n));
        if (link[0] != '/') {
            link.insert(0, folderOf(target));
        }
        target = link;
    }
}

mode_t creationMask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

bool renameOver(const std::string& from, const std::string& to, bool noClobber, std::string* reason) {
    if (!noClobber) {
        if (std::rename(from.c_str(), to.c_str()) == 0) {
            return true;
        }
    } else if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    } else if (errno == EINVAL || errno == ENOSYS) {
        // A file system without the no-replace rename: a new link fails just
        // the same when the name is taken.
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
    }
    *reason = noClobber && errno == EEXIST ? kKept : systemError(errno);
    return false;
}

int flushToDisk(int fd) {
    return ::fsync(fd);
}

int closeFile(int fd) {
    return ::close(fd);
}

void syncFolder(const std::string& file) {
    const std::string folder = folderOf(file);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd); // the rename itself; some file systems refuse, and the data is already safe
        ::close(fd);
    }
}

#else

bool renameOver(const std::string& from, const std::string& to, bool noClobber, std::string* reason) {
    // rename() refuses an existing destination on Windows.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (noClobber ? 0 : MOVEFILE_REPLACE_EXISTING);
    if (MoveFileExA(from.c_str(), to.c_str(), flags)) {
        return true;
    }
    const DWORD code = GetLastError();
    *reason = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS ? std::string(kKept)
                                                                        : "Windows error " + std::to_string(code);
    return false;
}

int flushToDisk(int fd) {
    return ::_commit(fd);
}

int closeFile(int fd) {
    return ::_close(fd);
}

void syncFolder(const std::string&) {}

#endif

} // namespace

OutputFile::OutputFile(const std::string& path, bool noClobber) : path_(path), noClobber_(noClobber) {
#ifdef _WIN32
    target_ = path;
#else
    target_ = resolveLinks(path);
#endif
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            throw ImageError("cannot write '" + path_ + "': it is not a regular file");
        }
        if (noClobber_) {
            throw ImageError("cannot write '" + path_ + "': " + kKept);
        }
    }
    std::lock_guard<std::mutex> hold(registry().lock);
    for (int attempt = 0; fd_ < 0; ++attempt) {
        temporary_ = temporaryName(target_, attempt);
#ifdef _WIN32
        fd_ = ::_open(temporary_.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        fd_ = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
#endif
        if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
            throw ImageError("cannot write '" + path_ + "': " + systemError(errno));
        }
    }
    registry().paths.push_back(temporary_);
}

OutputFile::~OutputFile() {
    if (!committed_) {
        removeTemporary();
    }
}

std::size_t OutputFile::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
    if (!failure_.empty() || fd_ < 0) {
        return 0;
    }
    int error = 0;
    // Only read from in a write.
    const std::size_t done = transfer(fd_, const_cast<void*>(data), size, offset, true, &error);
    if (done < size) {
        fail(systemError(error));
    }
    end_ = std::max(end_, offset + done);
    if (end_ - flushed_ >= kFlushBytes) {
        startFlush();
    }
    return done;
}

void OutputFile::startFlush() {
    // What a library wrote by the file's name counts too.
    const std::uint64_t end = std::max(end_, size());
#ifdef __linux__
    if (fd_ >= 0 && end > flushed_) {
        // Only a head start for commit's fsync, which still waits for all.
        (void)::sync_file_range(fd_, static_cast<off_t>(flushed_), static_cast<off_t>(end - flushed_),
                                SYNC_FILE_RANGE_WRITE);
    }
#endif
    flushed_ = end;
}

std::size_t OutputFile::readAt(void* data, std::size_t size, std::uint64_t offset) {
    int error = 0;
    return fd_ < 0 ? 0 : transfer(fd_, data, size, offset, false, &error);
}

void OutputFile::append(const void* data, std::size_t size) {
    if (writeAt(data, size, end_) != size) {
        abandon(failure_);
    }
}

std::uint64_t OutputFile::size() const {
#ifdef _WIN32
    const __int64 n = fd_ >= 0 ? ::_filelengthi64(fd_) : -1;
    return n > 0 ? static_cast<std::uint64_t>(n) : 0;
#else
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
#endif
}

void OutputFile::fail(const std::string& reason) {
    if (failure_.empty()) {
        failure_ = reason.empty() ? std::string("unknown error") : reason;
    }
}

std::string OutputFile::probeGrowth() {
#ifdef _WIN32
    return std::string();
#else
    // A file system that is full refuses new blocks; a size limit refuses
    // any growth. 64 KiB is more than the slack of the last block.
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        return std::string();
    }
    const std::vector<unsigned char> zeros(std::size_t(1) << 16, 0);
    std::size_t done = 0;
    int code = 0;
    while (done < zeros.size() && code == 0) {
        const ssize_t n =
            ::pwrite(fd_, zeros.data() + done, zeros.size() - done, st.st_size + static_cast<off_t>(done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            code = ENOSPC;
        } else if (errno != EINTR) {
            code = errno;
        }
    }
    if (::ftruncate(fd_, st.st_size) != 0 && code == 0) {
        code = errno;
    }
    return code == 0 ? std::string() : systemError(code);
#endif
}

void OutputFile::commit() {
    if (!failure_.empty()) {
        abandon(failure_);
    }
#ifndef _WIN32
    // The target's permission bits, owner and group; a new file gets what
    // the process's file-creation mask allows.
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) {
        if (noClobber_) {
            abandon(kKept);
        }
        if (::fchown(fd_, st.st_uid, st.st_gid) != 0) {
            // Only the owner may give a file away; the group may still be
            // one the process belongs to.
            (void)::fchown(fd_, static_cast<uid_t>(-1), st.st_gid);
        }
        if (::fchmod(fd_, st.st_mode & 07777) != 0) {
            abandon(systemError(errno));
        }
    } else if (::fchmod(fd_, 0666 & ~creationMask()) != 0) {
        abandon(systemError(errno));
    }
#endif
    // On disk before the rename, so that a crash never leaves the target
    // renamed but empty.
    if (flushToDisk(fd_) != 0) {
        abandon(systemError(errno));
    }
    const int closed = closeFile(fd_);
    fd_ = -1;
    if (closed != 0) {
        abandon(systemError(errno));
    }
    {
        std::lock_guard<std::mutex> hold(registry().lock);
        std::string reason;
        if (!renameOver(temporary_, target_, noClobber_, &reason)) {
            std::remove(temporary_.c_str());
            unregister(temporary_);
            throw ImageError("cannot write '" + path_ + "': " + reason);
        }
        unregister(temporary_);
        committed_ = true;
    }
    syncFolder(target_);
}

void OutputFile::abandon(const std::string& reason) {
    removeTemporary();
    throw ImageError("cannot write '" + path_ + "': " + reason);
}

void OutputFile::removeTemporary() {
    if (fd_ >= 0) {
        closeFile(fd_);
        fd_ = -1;
    }
    std::lock_guard<std::mutex> hold(registry().lock);
    if (std::find(registry().paths.begin(), registry().paths.end(), temporary_) != registry().paths.end()) {
        std::remove(temporary_.c_str());
        unregister(temporary_);
    }
}

void removeTemporaryFiles() {
    // The lock is kept to the end: the process is ending, and no other
    // thread may start a temporary file or put one in place after this.
    registry().lock.lock();
    for (const std::string& path : registry().paths) {
        std::remove(path.c_str());
    }
    registry().paths.clear();
}

} // namespace MorvekRender
