#pragma once
// The file a download is built in: one hidden part file beside the target, named after it
// (".NAME.vantorel-part"), with the download's resume state beside it (".NAME.vantorel-state").
// It is either sized up front and mapped as one writable view (length known) or appended to
// (length unknown). Only commit() puts it in place, by renaming it over the target; until then an
// existing file of the target's name is left alone. A PartFile destroyed without commit removes
// the part and the state, unless keep() asked for them to stay for a later run.
//
// The same names on every run mean a target never has more than one part file, and a later run
// finds what an interrupted or killed one left. While a PartFile is open it holds an exclusive
// lock on the part, so two downloads of one target at once cannot write into each other.
//
// Another program or user may have planted something at those names. A link (symbolic or hard),
// anything but a regular file, or a file of another user is never written through, read or
// renamed: the download is refused with a message that says what was found. When the target's
// name is too long for the side names to fit the file system, they use a shortened form of it.

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vantorel::download {

class PartFile {
  public:
    // Opens the target's part file, creating it empty when there is none; what an earlier run
    // left in it stays until startOver(). Fails with a clear message when the folder does not
    // exist, is not a folder, or cannot be written, when the target itself is a folder, a
    // device, a pipe or a socket, when the part or the state is not a plain file of this user
    // (see above), or when another download of the same target is running. Removes the
    // temporary files an interrupted save of the state left.
    static Result<PartFile> open(const std::string& target);
    // Where the resume state of `target` lives (what statePath() of its PartFile gives).
    static std::string statePathFor(const std::string& target);
    // Removes what an unfinished download of `target` left beside it (part and state); refused,
    // with the reason, while a download of it runs or when something not ours is there.
    static Status discard(const std::string& target);
    // Moves what an unfinished download of `target` left beside it (part and state) beside `to`
    // instead, so the download goes on there; refused as discard() is, and when `to` already
    // has side files of its own.
    static Status move(const std::string& target, const std::string& to);

    PartFile(PartFile&& other) noexcept;
    PartFile& operator=(PartFile&& other) noexcept;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile();

    // The size the part file had when it was opened.
    std::uint64_t sizeAtOpen() const { return sizeAtOpen_; }
    // Empties the file (and unmaps it): what an earlier run left cannot be used.
    Status startOver();

    // Reserves `size` bytes on disk now, so a full disk is reported before any byte is
    // fetched, and maps them as one shared writable view. True when the disk now holds them;
    // false when the file system could only size the file (its blocks come as it is written).
    Result<bool> reserveAndMap(std::uint64_t size);
    // The mapped view; empty until reserveAndMap (and for size 0).
    std::span<std::byte> view() const { return {static_cast<std::byte*>(map_), mapSize_}; }
    // Brings the pages of [offset, offset+length) of the view in ahead of the copies into it,
    // one call instead of a fault per page. Only a hint: where the system cannot, the copies
    // fault the pages in as usual.
    void prefault(std::uint64_t offset, std::uint64_t length) const;

    // `length` bytes of the file from `offset`, as they are now (what the view wrote included).
    Result<std::string> read(std::uint64_t offset, std::uint64_t length) const;
    // Appends at the end of the file (bodies whose length is not known in advance).
    Status append(std::span<const std::byte> data);
    std::uint64_t appended() const { return appended_; }

    // Writes the part [offset, offset+length) of the mapped view to disk, so that what it holds
    // survives a crash.
    Status sync(std::uint64_t offset, std::uint64_t length) const;
    // Starts writing [offset, offset+length) of the view to disk without waiting for it, so a
    // later sync finds less to do. Only a hint. The bytes there must be final: the view drops
    // its pages, and a later copy into them maps them in again.
    void startWriteback(std::uint64_t offset, std::uint64_t length) const;

    // Writes the view and the file to disk, renames it over the target (a symbolic link there is
    // replaced, not followed), removes the state and closes the file. The lock is held until
    // the file has its name. Fails, leaving the target alone, when the part at the part's path
    // is no longer the file this object wrote or no longer has the size it was given, or when
    // the target is not a file that may be replaced.
    Status commit();

    // Leave the part and its state on disk when this object goes.
    void keep() { keep_ = true; }

    const std::string& path() const { return path_; }
    const std::string& statePath() const { return statePath_; }
    const std::string& target() const { return target_; }

  private:
    PartFile(int fd, std::string path, std::string statePath, std::string target,
             std::uint64_t size);
    bool stillAtPath() const;
    void release() noexcept;
    void unmap() noexcept;

    int fd_ = -1;
    std::string path_;
    std::string statePath_;
    std::string target_;
    std::uint64_t sizeAtOpen_ = 0;
    bool keep_ = false;
    void* map_ = nullptr;
    std::size_t mapSize_ = 0;
    std::uint64_t appended_ = 0;
    std::optional<std::uint64_t> reserved_; // the size given to reserveAndMap since startOver
};

} // namespace vantorel::download
