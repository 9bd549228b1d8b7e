// What the parts of the in-memory class library share: the modal runs with
// their windows, the installed driver and repaint hook, the registry of live
// graphics objects and the device context that records what was done to it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/model/ModelWindows.h"

namespace modelwindows {

struct ModalRun {
    CDialog* dialog = nullptr;
    std::unique_ptr<WindowState> self;
    std::vector<std::unique_ptr<WindowState>> children;
    WindowState* focus = nullptr;
    bool ended = false;
    int result = 0;
};

std::vector<ModalRun*>& modalRuns();

extern ModalDriver* installedDriver;
std::function<void(CDialog&)>& repaintHook();

ModalRun* runOf(const CDialog& dialog);
// The run a window belongs to: as the dialog itself or as one of its controls.
ModalRun* runOwning(const WindowState* window);
WindowState* childOf(ModalRun& run, unsigned id);
bool canTakeFocus(const WindowState& w);

// Live graphics objects: handle -> what was made.
struct GraphicsRegistry {
    std::mutex mutex;
    uintptr_t nextToken = 0x1000;
    std::set<Handle> fonts;
    std::map<Handle, ColorRef> brushes;

    Handle newToken()
    {
        nextToken += 4;
        return reinterpret_cast<Handle>(nextToken);
    }
};

GraphicsRegistry& graphics();

// A device context that only remembers what was done to it.
class RecordingDC : public CDC {
public:
    explicit RecordingDC(WindowState* window) : window_(window) {}
    void setTextColor(ColorRef color) override { textColor = color; }
    void setBkColor(ColorRef color) override { backColor = color; }
    void selectFont(CFont& font) override
    {
        if (!font.exists()) return;
        fontFace = font.face;
        fontTenths = font.tenthsOfPoint;
    }
    void drawIcon(int x, int y, Handle icon) override
    {
        if (window_ != nullptr) window_->drawnIcons.push_back({x, y, icon});
    }
    Handle nativeHandle() override { return this; }

    ColorRef textColor = kModelDcTextColor;
    ColorRef backColor = kModelDcBackColor;
    std::string fontFace;
    int fontTenths = 0;

private:
    WindowState* window_;
};

} // namespace modelwindows
