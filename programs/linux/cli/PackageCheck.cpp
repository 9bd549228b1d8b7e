#include "programs/linux/cli/PackageCheck.h"

#include <cstdio>
#include <cstring>
#include <ostream>

#include "app/UpdaterApp.h"
#include "programs/linux/cli/FrontDoor.h"
#include "programs/linux/cli/Session.h"
#include "update/UpdateWorker.h"

namespace {

constexpr uint32_t kRecordAtEnd = 0x10000;
constexpr uint32_t kRecordSize = 28;
constexpr uint32_t kEpsDataStart = 0x3400; // the EPS image's first bytes are never sent

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

const char* identitySource()
{
    const uint8_t* image = package.firmwareImage;
    if (package.options.noBinaryInformation == 0 && image != nullptr) {
        const uint32_t size = package.firmwareFileSize;
        if (size >= kRecordAtEnd + kRecordSize &&
            std::memcmp(image + kRecordAtEnd, "ORVENTA ", 8) == 0)
            return "image record at 0x10000";
        if (size >= kRecordSize && std::memcmp(image, "ORVENTA ", 8) == 0)
            return "image record at 0";
    }
    return "description file";
}

const char* cautionName(uint8_t kind)
{
    switch (kind) {
    case 1:
        return "CD-R";
    case 2:
        return "CD-R/RW";
    case 3:
        return "CD-ROM";
    case 4:
        return "DVD+-R/RW";
    default:
        return nullptr;
    }
}

Json transferPlan()
{
    const uint32_t size = package.firmwareFileSize;
    const uint32_t chunk = package.bufferSize;
    Json plan;
    plan["sound"] = transferIsSound(size, chunk);
    if (!plan["sound"].get<bool>()) return plan;
    const uint32_t count = size / chunk;
    plan["chunkSize"] = chunk;
    plan["chunks"] = count;
    plan["download"] = count - 1; // WRITE BUFFER mode 4
    plan["save"] = 1;             // WRITE BUFFER mode 5
    plan["saveOffset"] = (count - 1) * chunk;
    plan["unsentBytes"] = size - count * chunk;
    plan["sentTwiceWhenAsked"] = package.options.twiceUpdate != 0;
    return plan;
}

Json epsPlan()
{
    if (package.epsFileName[0] == '\0') return nullptr;
    Json plan;
    if (package.epsFileSize <= kEpsDataStart) {
        plan["sent"] = false;
        return plan;
    }
    plan["sent"] = true;
    plan["offset"] = kEpsDataStart;
    plan["bytes"] = package.epsFileSize - kEpsDataStart;
    plan["dataBuffer"] = "0x81";
    plan["commitBuffer"] = "0x82";
    plan["versionBuffer"] = "0x84";
    plan["version"] = asUtf8(fieldText(package.epsVersion));
    return plan;
}

} // namespace

Json packageReport(const FoundPackage& found, PackageResult result)
{
    Json report;
    report["folder"] = found.folder;
    report["file"] = found.file;
    report["result"] = result;
    report["message"] = result == 0 ? "" : asUtf8(packageResultMessage(result));
    if (result != 0) return report;

    report["title"] = asUtf8(fieldText(package.applicationTitle));
    report["identity"] = asUtf8(fieldText(package.inquiryList));
    report["identitySource"] = identitySource();
    report["version"] = asUtf8(fieldText(package.firmwareVersion));
    Json images = Json::array();
    images.push_back({{"role", "main"},
                      {"file", asUtf8(fieldText(package.firmwareFileName))},
                      {"size", package.firmwareFileSize}});
    if (package.epsFileName[0] != '\0')
        images.push_back({{"role", "eps"},
                          {"file", asUtf8(fieldText(package.epsFileName))},
                          {"size", package.epsFileSize},
                          {"version", asUtf8(fieldText(package.epsVersion))}});
    report["images"] = images;
    const PackageOptions& o = package.options;
    const char* caution = cautionName(o.cautionKind);
    report["options"] = {{"pcbCheck", o.pcbVersion},
                         {"notice", caution != nullptr ? Json(caution) : Json(nullptr)},
                         {"restartOffered", o.noRestart == 0},
                         {"restartCopy", o.noDeleteFile == 0},
                         {"waitSeconds", o.updateWaitTime},
                         {"twiceUpdate", o.twiceUpdate != 0},
                         {"updateAfterCommand", o.updateAfterCommand != 0},
                         {"inquiry13", o.melcoInquiry != 0},
                         {"identityFromImage", o.noBinaryInformation == 0}};
    report["plan"] = transferPlan();
    report["eps"] = epsPlan();
    return report;
}

void printPackageReport(std::ostream& out, const Json& r)
{
    out << "Package:   " << r["folder"].get<std::string>() << '/' << r["file"].get<std::string>()
        << '\n';
    const int result = r["result"].get<int>();
    if (result != 0) {
        out << "Result:    " << result << " (refused) " << r["message"].get<std::string>() << '\n';
        return;
    }
    out << "Result:    0 (package read)\n";
    out << "Title:     " << r["title"].get<std::string>() << '\n';
    out << "Identity:  \"" << r["identity"].get<std::string>() << "\" ("
        << r["identitySource"].get<std::string>() << ")\n";
    out << "Version:   " << r["version"].get<std::string>() << '\n';
    for (const Json& image : r["images"]) {
        out << (image["role"] == "main" ? "Image:     " : "EPS image: ")
            << image["file"].get<std::string>() << ", " << image["size"].get<uint32_t>()
            << " bytes";
        if (image.contains("version")) out << ", version " << image["version"].get<std::string>();
        out << '\n';
    }
    const Json& o = r["options"];
    out << "Options:   PCB check "
        << (o["pcbCheck"].get<int>() == 0 ? std::string("off")
                                          : "up to " + std::to_string(o["pcbCheck"].get<int>()))
        << ", notice " << (o["notice"].is_null() ? "none" : o["notice"].get<std::string>())
        << ", restart " << (o["restartOffered"].get<bool>() ? "offered" : "not offered")
        << ", wait " << o["waitSeconds"].get<int>() << " s"
        << (o["twiceUpdate"].get<bool>() ? ", twice update" : "")
        << (o["updateAfterCommand"].get<bool>() ? ", probes after the update" : "") << '\n';
    const Json& plan = r["plan"];
    if (!plan["sound"].get<bool>()) {
        out << "Plan:      no sound transfer (no whole chunk)\n";
    } else {
        out << "Plan:      " << plan["chunks"].get<uint32_t>() << " chunks of "
            << plan["chunkSize"].get<uint32_t>() << " bytes: " << plan["download"].get<uint32_t>()
            << " \"download\" (WRITE BUFFER mode 4),\n"
            << "           then one final \"save\" (mode 5) at offset "
            << hex(plan["saveOffset"].get<uint32_t>()) << ";\n"
            << "           " << plan["unsentBytes"].get<uint32_t>()
            << " bytes past the last whole chunk are never sent\n";
    }
    const Json& eps = r["eps"];
    if (eps.is_null()) {
        out << "EPS plan:  none\n";
    } else if (!eps["sent"].get<bool>()) {
        out << "EPS plan:  nothing sent (the image ends before " << hex(kEpsDataStart) << ")\n";
    } else {
        out << "EPS plan:  " << eps["bytes"].get<uint32_t>() << " bytes from offset "
            << hex(kEpsDataStart) << " into buffer 0x81, read back and compared,\n"
            << "           committed (buffer 0x82), version " << eps["version"].get<std::string>()
            << " checked (buffer 0x84);\n"
            << "           skipped when the drive reports that version already\n";
    }
}

void printJson(std::ostream& out, const Json& document)
{
    out << document.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

int runCheck(const FoundPackage& found, bool json, std::ostream& out, std::ostream& err,
             const std::string& program)
{
    if (!found.found) {
        if (json) {
            printJson(out, {{"command", "check"},
                            {"exitCode", exitcode::PackageRefused},
                            {"error", found.problem}});
        } else {
            err << program << ": " << found.problem << '\n';
        }
        return exitcode::PackageRefused;
    }
    const PackageResult result = loadPackage(found);
    const int code = result == 0 ? exitcode::Ok : exitcode::PackageRefused;
    const Json report = packageReport(found, result);
    if (json) {
        printJson(out, {{"command", "check"}, {"exitCode", code}, {"package", report}});
    } else {
        printPackageReport(out, report);
        if (code != exitcode::Ok)
            err << program << ": package refused: " << report["message"].get<std::string>() << '\n';
    }
    return code;
}
