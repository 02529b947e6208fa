// The one way morvek-render writes a file. The bytes go to a temporary file in
// the target's own folder; every write is checked and the first failure kept
// with the system's reason. commit() flushes the temporary file to disk, gives
// it the target's permission bits (and its owner and group where the process
// may set them) and renames it over the target in one step. A symbolic link
// stays a link: its target is what gets replaced. Whatever fails, and on
// interruption (removeTemporaryFiles), the temporary file goes and the target
// is left as it was.
#ifndef MORVEK_RENDER_OUTPUTFILE_H
#define MORVEK_RENDER_OUTPUTFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace MorvekRender {

class OutputFile {
public:
    // Follows `path` through symbolic links and creates the temporary file
    // beside the target. With `noClobber` an existing target is refused, here
    // and again at the rename. Throws ImageError ("cannot write 'path': ...").
    explicit OutputFile(const std::string& path, bool noClobber = false);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The path as the user gave it, for messages, and the temporary file's.
    const std::string& path() const { return path_; }
    const std::string& temporaryPath() const { return temporary_; }

    // Positioned writes and reads of the temporary file. A write returns the
    // bytes written, fewer only after a failure, whose reason is kept.
    std::size_t writeAt(const void* data, std::size_t size, std::uint64_t offset);
    std::size_t readAt(void* data, std::size_t size, std::uint64_t offset);
    // Appends at the end of what was written; throws ImageError on failure.
    void append(const void* data, std::size_t size);
    std::uint64_t size() const;

    // The first failure (a write, or one recorded with fail()); empty if none.
    const std::string& failure() const { return failure_; }
    void fail(const std::string& reason);
    // The system's reason why the temporary file cannot grow (a full disk, a
    // size limit), found by trying; empty when it can.
    std::string probeGrowth();

    // Starts writing what the file holds so far to disk without waiting for
    // it, so that commit() has less left to wait for. Writes start it on
    // their own every few MiB.
    void startFlush();

    // Flushes the temporary file to disk, gives it the target's permissions
    // and renames it over the target. Throws ImageError with the first
    // failure, after removing the temporary file.
    void commit();
    // Throws ImageError naming the user's path, after removing the
    // temporary file.
    [[noreturn]] void abandon(const std::string& reason);

private:
    void removeTemporary();

    std::string path_;      // as given
    std::string target_;    // the file that gets replaced, links followed
    std::string temporary_; // beside target_
    bool noClobber_ = false;
    int fd_ = -1;
    std::uint64_t end_ = 0;     // bytes written so far (the highest offset reached)
    std::uint64_t flushed_ = 0; // bytes whose writing to disk was started
    std::string failure_;
    bool committed_ = false;
};

// Removes every temporary file of a write in progress. Meant for the
// interruption handler; it waits for a rename under way to finish, so a
// target is either replaced whole or left as it was. No write starts or
// commits afterwards: the calling thread must end the process.
void removeTemporaryFiles();

} // namespace MorvekRender

#endif
