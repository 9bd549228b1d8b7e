// --list: every optical drive, and whether the package fits it. Only
// INQUIRY, TEST UNIT READY and the vendor PCB query (a read) are sent.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "programs/linux/cli/PackageFinder.h"

// `explicitPackage`: the command line named the package, so not finding it
// is an error; otherwise the drives are listed without a package.
int runList(const FoundPackage& found, bool explicitPackage, bool json,
            const std::function<void(const std::string&)>& installDrives, std::ostream& out,
            std::ostream& err, const std::string& program);
