#pragma once
// The file a download is built in: a hidden temporary file beside the target, either sized up
// front and mapped as one writable view (length known) or appended to (length unknown). Only
// commit() puts it in place, by renaming it over the target; until then an existing file of
// the target's name is left alone, and a PartFile destroyed without commit removes its file.

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vantorel::download {

class PartFile {
  public:
    // Creates an empty temporary file in the target's folder. Fails with a clear message when
    // the folder does not exist, is not a folder, or cannot be written, or when the target
    // itself is a folder.
    static Result<PartFile> create(const std::string& target);

    PartFile(PartFile&& other) noexcept;
    PartFile& operator=(PartFile&& other) noexcept;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile();

    // Reserves `size` bytes on disk now, so a full disk is reported before any byte is
    // fetched, and maps them as one shared writable view.
    Status reserveAndMap(std::uint64_t size);
    // The mapped view; empty until reserveAndMap (and for size 0).
    std::span<std::byte> view() const { return {static_cast<std::byte*>(map_), mapSize_}; }
    // Brings the pages of [offset, offset+length) of the view in ahead of the copies into it,
    // one call instead of a fault per page. Only a hint: where the system cannot, the copies
    // fault the pages in as usual.
    void prefault(std::uint64_t offset, std::uint64_t length) const;

    // Appends at the end of the file (bodies whose length is not known in advance).
    Status append(std::span<const std::byte> data);
    std::uint64_t appended() const { return appended_; }
    // Drops everything appended so far.
    Status truncate();

    // Writes the view and the file to disk, closes it and renames it over the target.
    Status commit();

    const std::string& path() const { return path_; }
    const std::string& target() const { return target_; }

  private:
    PartFile(int fd, std::string path, std::string target);
    void release() noexcept;

    int fd_ = -1;
    std::string path_;
    std::string target_;
    void* map_ = nullptr;
    std::size_t mapSize_ = 0;
    std::uint64_t appended_ = 0;
};

} // namespace vantorel::download
