#include "programs/linux/cli/UnattendedRun.h"

#include <ostream>
#include <vector>

#include "app/UpdaterApp.h"
#include "platform/linux/MessagePresenter.h"
#include "platform/model/ModelWindows.h"
#include "programs/linux/cli/FrontDoor.h"
#include "programs/linux/cli/PackageCheck.h"
#include "programs/linux/cli/Progress.h"
#include "programs/linux/cli/Session.h"
#include "ui/MainWindow.h"
#include "ui/NoticeDialog.h"
#include "update/UpdateState.h"

namespace {

struct Box {
    std::string title, text;
    uint32_t flags;
    int answer;
};

// The user this run stands in for.
class StandIn : public ModalDriver {
public:
    StandIn(const UnattendedSettings& settings, ProgressPrinter& progress, std::ostream* story)
        : settings_(settings), progress_(progress), story_(story)
    {
    }

    void run(CDialog& dialog) override
    {
        if (dialog.templateId() == IDD_NOTICE) {
            noticeAccepted = modelClick(dialog, IDOK_);
        } else if (dialog.templateId() == IDD_MAIN_WINDOW) {
            mainWindowRan = true;
            runMainWindow(dialog);
        }
        if (!modelDialogEnded(dialog)) dialog.endDialog(IDCANCEL_);
    }

    int answer(const std::string& text, const std::string& title, uint32_t flags)
    {
        int answer = IDOK_;
        if ((flags & 0xF) == MB_YESNO_) {
            // The restart question is the system-modal one.
            const bool restartQuestion = (flags & MB_SYSTEMMODAL_) != 0;
            if (restartQuestion)
                restartAsked = true;
            else
                versionAsked = true;
            answer = (restartQuestion ? settings_.restart : settings_.allowOlder) ? IDYES_ : IDNO_;
            if (restartQuestion && answer == IDYES_) restartAccepted = true;
        }
        boxes.push_back({title, text, flags, answer});
        return answer;
    }

    void runMainWindow(CDialog& dialog)
    {
        for (uint16_t i = 0; i < driveCount; ++i)
            fitting.push_back(driveNode(driveEntries[i]));
        int chosen = -1;
        if (settings_.drive.empty()) {
            if (fitting.size() == 1) chosen = 0;
        } else {
            for (size_t i = 0; i < fitting.size(); ++i)
                if (namesNode(settings_.drive, fitting[i])) chosen = static_cast<int>(i);
        }
        if (chosen < 0) {
            modelClick(dialog, IDCANCEL_);
            return;
        }
        drive = chosen;
        modelSelect(dialog, IDC_DRIVE_LIST, chosen);
        if (story_ != nullptr)
            *story_ << "Updating " << forTerminal(fieldText(driveEntries[chosen].displayText))
                    << " with firmware " << forTerminal(fieldText(package.firmwareVersion)) << '\n';
        progress_.begin(dialog);
        updatePressed = true;
        modelClick(dialog, IDOK_);
        updated = driveEntries[chosen].updated == 1;
        if (!modelDialogEnded(dialog)) modelClick(dialog, IDCANCEL_);
    }

    bool noticeAccepted = false;
    bool mainWindowRan = false;
    bool updatePressed = false;
    bool updated = false;
    bool versionAsked = false;
    bool restartAsked = false;
    bool restartAccepted = false;
    int drive = -1;
    std::vector<std::string> fitting;
    std::vector<Box> boxes;

private:
    const UnattendedSettings& settings_;
    ProgressPrinter& progress_;
    std::ostream* story_; // what is done, for a person; null for JSON
};

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

struct Outcome {
    int code;
    const char* result;
    std::string error;
};

Outcome outcomeOf(const StandIn& run, const UnattendedSettings& settings)
{
    if (!run.mainWindowRan) {
        // Start-up ended before the main window: with a package that reads,
        // that is the "no drive" message.
        const std::string text = run.boxes.empty() ? "no drive found" : run.boxes.back().text;
        return {exitcode::NoDrive, "no-drive", text};
    }
    if (!run.updatePressed) {
        if (settings.drive.empty())
            return {exitcode::Usage, "usage",
                    "more than one drive fits (" + joined(run.fitting) +
                        "): name one with --drive"};
        return {exitcode::NoDrive, "no-drive",
                settings.drive + " is not a drive the package fits (" + joined(run.fitting) + ")"};
    }
    if (run.updated) return {exitcode::Ok, "updated", ""};
    if (run.versionAsked && !settings.allowOlder)
        return {exitcode::NoDrive, "refused",
                "the drive has newer firmware than the package; --allow-older writes it anyway"};
    for (const Box& box : run.boxes) {
        if ((box.flags & MB_ICONERROR_) == 0) {
            if ((box.flags & 0xF) == MB_OK_ && (box.flags & MB_SYSTEMMODAL_) == 0)
                return {exitcode::NoDrive, "refused", box.text}; // the PCB refusal
            continue;
        }
        // The update's failure box starts with its own line and a blank line;
        // the failed PCB query's box is a single line.
        const size_t cut = box.text.find("\n\n");
        if (cut == std::string::npos) return {exitcode::NoDrive, "refused", box.text};
        return {exitcode::UpdateFailed, "failed", box.text.substr(cut + 2)};
    }
    return {exitcode::UpdateFailed, "failed", "the update did not complete"};
}

void report(std::ostream& out, std::ostream& err, const std::string& program, bool json,
            const Json& packageJson, const StandIn* run, const Outcome& outcome)
{
    if (!json) {
        if (outcome.code == exitcode::Ok)
            out << "Firmware update completed.\n";
        else
            err << program << ": "
                << (outcome.code == exitcode::UpdateFailed ? "update failed: " : "")
                << forTerminal(outcome.error) << '\n';
        return;
    }
    Json document{{"command", "update"}, {"exitCode", outcome.code}, {"result", outcome.result}};
    document["package"] = packageJson;
    Json drive = nullptr;
    Json boxes = Json::array();
    if (run != nullptr) {
        if (run->drive >= 0) {
            const DriveEntry& entry = driveEntries[run->drive];
            drive = {{"node", run->fitting[static_cast<size_t>(run->drive)]},
                     {"display", asUtf8(fieldText(entry.displayText))},
                     {"revision", asUtf8(fieldText(entry.revision))}};
        }
        document["fitting"] = run->fitting;
        for (const Box& box : run->boxes)
            boxes.push_back({{"title", asUtf8(box.title)},
                             {"text", asUtf8(box.text)},
                             {"flags", box.flags},
                             {"answer", box.answer}});
        document["restart"] = run->restartAccepted;
    }
    document["drive"] = drive;
    document["messages"] = boxes;
    document["error"] = outcome.error.empty() ? Json(nullptr) : Json(asUtf8(outcome.error));
    printJson(out, document);
}

} // namespace

int runUnattended(const FoundPackage& found, const UnattendedSettings& settings, std::ostream& out,
                  std::ostream& err, const std::string& program)
{
    if (!found.found) {
        report(out, err, program, settings.json, nullptr, nullptr,
               {exitcode::PackageRefused, "refused", found.problem});
        return exitcode::PackageRefused;
    }
    // The package is read once here to refuse it with its code before any
    // drive is touched; start-up reads it again, the same way.
    const PackageResult result = loadPackage(found);
    const Json packageJson = packageReport(found, result);
    if (result != 0) {
        report(out, err, program, settings.json, packageJson, nullptr,
               {exitcode::PackageRefused, "refused", packageResultMessage(result)});
        return exitcode::PackageRefused;
    }
    if (settings.mayWriteFirmware && !settings.mayWriteFirmware()) {
        const Outcome denied{exitcode::NotPermitted, "not-permitted",
                             "writing drive firmware needs the raw-I/O capability "
                             "(CAP_SYS_RAWIO): run as root"};
        report(out, err, program, settings.json, packageJson, nullptr, denied);
        return exitcode::NotPermitted;
    }
    settings.installDrives(found.folder);

    ProgressPrinter progress(settings.json ? err : out, settings.progressOnTerminal);
    StandIn run(settings, progress, settings.json ? nullptr : &out);
    {
        ModalDriverScope driver(&run);
        setMessagePresenter([&](CWnd*, const std::string& text, const std::string& title,
                                uint32_t flags) { return run.answer(text, title, flags); });
        setRepaintHook([&](CDialog& dialog) {
            if (run.updatePressed) progress.show(dialog);
        });
        theApp.startUp();
        setRepaintHook(nullptr);
        setMessagePresenter(nullptr);
    }
    progress.finish();
    const Outcome outcome = outcomeOf(run, settings);
    report(out, err, program, settings.json, packageJson, &run, outcome);
    return outcome.code;
}
