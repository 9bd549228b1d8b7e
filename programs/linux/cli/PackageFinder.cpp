#include "programs/linux/cli/PackageFinder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The name without its last extension, and the extension (lower case).
std::pair<std::string, std::string> split(const std::string& name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return {name, ""};
    return {name.substr(0, dot), lowered(name.substr(dot + 1))};
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

FoundPackage chosen(const std::string& file)
{
    FoundPackage result;
    result.found = true;
    result.file = file;
    return result;
}

FoundPackage ambiguous(std::vector<std::string> names, const char* what)
{
    std::sort(names.begin(), names.end());
    FoundPackage result;
    result.problem =
        std::string("more than one ") + what + ": " + joined(names) + "; name the description file";
    return result;
}

} // namespace

FoundPackage choosePackageFile(const std::vector<std::string>& names)
{
    std::vector<std::string> ini, paired, second;
    for (const std::string& name : names) {
        const auto [stem, extension] = split(name);
        if (extension != "ini") continue;
        ini.push_back(name);
        if (lowered(name) == "orvefirm.ini") second.push_back(name);
        const bool program = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            const auto [otherStem, otherExtension] = split(n);
            return otherExtension == "exe" && lowered(otherStem) == lowered(stem);
        });
        if (program) paired.push_back(name);
    }
    if (paired.size() == 1) return chosen(paired[0]);
    if (paired.size() > 1) return ambiguous(paired, "package (<name>.INI beside <name>.EXE)");
    if (second.size() == 1) return chosen(second[0]);
    if (second.size() > 1) return ambiguous(second, "orvefirm.ini");
    if (ini.size() == 1) return chosen(ini[0]);
    if (ini.size() > 1) return ambiguous(ini, "description file (*.INI)");
    FoundPackage result;
    result.problem = "no package description file: looked for <name>.INI beside <name>.EXE, "
                     "orvefirm.ini, and *.INI";
    return result;
}

FoundPackage findPackage(const std::string& argument)
{
    std::error_code error;
    const fs::path given = argument.empty() ? fs::path(".") : fs::path(argument);
    const fs::path absolute = fs::absolute(given, error);
    FoundPackage result;
    if (error || !fs::exists(absolute, error)) {
        result.problem = "no such file or folder: " + given.string();
        return result;
    }
    if (fs::is_directory(absolute, error)) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(absolute, error))
            if (entry.is_regular_file(error)) names.push_back(entry.path().filename().string());
        result = choosePackageFile(names);
        result.folder = fs::weakly_canonical(absolute, error).string();
        if (!result.found) result.problem += " in " + result.folder;
        return result;
    }
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    result.found = true;
    result.folder = canonical.parent_path().string();
    result.file = canonical.filename().string();
    return result;
}
