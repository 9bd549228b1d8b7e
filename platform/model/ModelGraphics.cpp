// Graphics objects (fonts and brushes) with the count of those alive, and the
// paint device context.
#include <mutex>

#include "platform/model/ModelState.h"

namespace modelwindows {

GraphicsRegistry& graphics()
{
    static GraphicsRegistry registry;
    return registry;
}

} // namespace modelwindows

using namespace modelwindows;

// ---------------------------------------------------------------------------
// Graphics objects

CFont::~CFont()
{
    deleteObject();
}

bool CFont::createPointFont(int tenths, const std::string& faceName)
{
    // A second creation replaces the first object instead of leaking it.
    deleteObject();
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    handle = g.newToken();
    g.fonts.insert(handle);
    tenthsOfPoint = tenths;
    face = faceName.substr(0, 31);
    return true;
}

void CFont::deleteObject()
{
    if (handle == nullptr) return;
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    g.fonts.erase(handle);
    handle = nullptr;
    tenthsOfPoint = 0;
    face.clear();
}

CBrush::~CBrush()
{
    deleteObject();
}

bool CBrush::createSolidBrush(ColorRef brushColor)
{
    deleteObject();
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    handle = g.newToken();
    g.brushes[handle] = brushColor;
    color = brushColor;
    return true;
}

void CBrush::deleteObject()
{
    if (handle == nullptr) return;
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    g.brushes.erase(handle);
    handle = nullptr;
    color = 0;
}

int modelLiveFonts()
{
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    return static_cast<int>(g.fonts.size());
}

int modelLiveBrushes()
{
    auto& g = graphics();
    std::lock_guard lock(g.mutex);
    return static_cast<int>(g.brushes.size());
}

// ---------------------------------------------------------------------------
// Painting

struct CPaintDC::Impl {
    explicit Impl(CWnd& window) : dc(window.state) {}
    RecordingDC dc;
};

CPaintDC::CPaintDC(CWnd& window) : impl_(new Impl(window))
{
}

CPaintDC::~CPaintDC()
{
    delete impl_;
}

CDC& CPaintDC::dc()
{
    return impl_->dc;
}
