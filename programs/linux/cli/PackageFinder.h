// Finding the package a command line points at: a description file, or a
// folder holding one.
#pragma once

#include <string>
#include <vector>

struct FoundPackage {
    bool found = false;
    std::string folder;  // absolute; the images are read from here
    std::string file;    // the description file's name in `folder`
    std::string problem; // why nothing was found: what was looked for and where
};

// `argument` names a description file or a folder ("" is the current
// folder). In a folder the description file is, in this order: <name>.INI
// beside a <name>.EXE (a package as makers ship it), orvefirm.ini, or the only
// *.INI there; names compare without regard to letter case. Two or more
// candidates of the same rank are a problem that names them.
FoundPackage findPackage(const std::string& argument);

// The same choice among the file names of one folder.
FoundPackage choosePackageFile(const std::vector<std::string>& names);
