// The replacement of a small text file (WININIT.INI) by new content, over the
// Windows file operations it is made of. Platform-neutral, so that the
// sequence the Win32 restart code runs is tested natively against a scripted
// file API.
#pragma once

#include <string>

// The file operations the replacement uses, named by their Windows API.
class ReplacementFileApi {
public:
    virtual ~ReplacementFileApi() = default;

    // CreateFileA(CREATE_ALWAYS), WriteFile of the whole content,
    // FlushFileBuffers and CloseHandle: true when all of it succeeded.
    virtual bool writeFile(const std::string& path, const std::string& content) = 0;
    // GetFileAttributesA succeeds.
    virtual bool fileExists(const std::string& path) = 0;
    // MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    // not implemented on the 9x family, where it always fails.
    virtual bool moveFileExReplacing(const std::string& from, const std::string& to) = 0;
    // MoveFileA(from, to); fails when `to` exists.
    virtual bool moveFile(const std::string& from, const std::string& to) = 0;
    // DeleteFileA.
    virtual bool deleteFile(const std::string& path) = 0;
};

// Writes `content` to `path` + ".NEW" and puts it in place of `path`: with one
// MoveFileExA where the system has it, else (the 9x family) by moving the old
// file aside to `path` + ".OLD", moving the new one in and removing the old
// one, or moving the old one back when the new one cannot be moved in. A
// failure of any one step leaves `path` with either its old or its new content
// whole. Once the old file is aside, the new file is never deleted unless the
// old one is back in place.
bool replaceFileContent(ReplacementFileApi& files, const std::string& path,
                        const std::string& content);
