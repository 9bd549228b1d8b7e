#include "platform/FileReplacement.h"

bool replaceFileContent(ReplacementFileApi& files, const std::string& path,
                        const std::string& content)
{
    const std::string fresh = path + ".NEW";
    if (!files.writeFile(fresh, content)) {
        files.deleteFile(fresh);
        return false;
    }
    if (files.moveFileExReplacing(fresh, path)) return true;

    // The 9x family has no MoveFileExA: replace in steps, each of which can be
    // undone while the old file is aside.
    const std::string aside = path + ".OLD";
    const bool hadOld = files.fileExists(path);
    if (hadOld) {
        // A copy left aside by an earlier run: `path` already holds all it held.
        files.deleteFile(aside);
        if (!files.moveFile(path, aside)) {
            files.deleteFile(fresh);
            return false;
        }
    }
    if (!files.moveFile(fresh, path)) {
        // Without the old file back in place the new one is all there is.
        if (hadOld && !files.moveFile(aside, path)) return false;
        files.deleteFile(fresh);
        return false;
    }
    if (hadOld) files.deleteFile(aside);
    return true;
}
