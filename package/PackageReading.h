// The pieces readPackage is made of, and the helpers they share. Internal to
// the package reader; tests reach them to check the pieces on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/UpdatePackage.h"
#include "platform/Platform.h"

namespace packagereading {

// Obtains a zero-filled buffer of `bytes` bytes that std::free releases, or
// answers null when the memory is not available.
using ZeroedAllocator = void* (*)(size_t bytes);
// Replaces the allocator of the image buffers; null restores std::calloc.
void setImageAllocator(ZeroedAllocator allocator);
void* allocateZeroed(size_t bytes);

// First half: finds the description file, parses it into `package`, closes it.
PackageResult readDescriptionFile();
// Second half: sizes, images, identity and title.
PackageResult loadImagesAndIdentity();

// A decimal number as the description file writes it: leading white space,
// one optional sign, digits up to the first other character. No digits give
// 0; overflow wraps around.
int32_t parseDecimal(const char* text);

// Plain ASCII upper-casing: only 'a' to 'z' change.
std::string upperCased(const std::string& text);

// Every run of blanks becomes a single blank.
std::string squeezeBlanks(const std::string& text);

// Reads a file line by line through sys(). A line ends at LF or CR LF (the
// end is not part of it); a last line without an end still counts.
class LineReader {
public:
    enum class Status { Line, End, Failed };

    explicit LineReader(Handle file) : file_(file) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    Status next(std::string& line);

private:
    bool refill();

    Handle file_;
    char buffer_[1024];
    uint32_t filled_ = 0;
    uint32_t position_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

} // namespace packagereading
