// --check: the package read exactly as an update reads it, and what an update
// would send.
#pragma once

#include <iosfwd>

#include <nlohmann/json.hpp>

#include "package/UpdatePackage.h"
#include "programs/linux/cli/PackageFinder.h"

using Json = nlohmann::ordered_json;

// The package as read (result code and text, identity, images, options) and,
// when it was read, its transfer plan.
Json packageReport(const FoundPackage& found, PackageResult result);
// The same as lines for a person.
void printPackageReport(std::ostream& out, const Json& report);

// Reads the package and reports it; answers the exit code.
int runCheck(const FoundPackage& found, bool json, std::ostream& out, std::ostream& err,
             const std::string& program);

// Writes one JSON document.
void printJson(std::ostream& out, const Json& document);
