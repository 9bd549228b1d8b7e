#include "ui/ColorLabel.h"

#include <utility>

ColorLabel::~ColorLabel()
{
    // The font goes first, then the brush; the control itself last (base).
    labelFont.deleteObject();
    backBrush.deleteObject();
}

void ColorLabel::setTextColor(ColorRef color)
{
    textColor = color;
}

void ColorLabel::setBackColor(ColorRef color)
{
    backColor = color;
    // A label may be recoloured: the earlier brush is released before the new
    // one takes its place, so nothing leaks.
    backBrush.deleteObject();
    backBrush.createSolidBrush(color);
}

void ColorLabel::createPointFont(int tenthsOfPoint, const std::string& face)
{
    // Build the new font aside first: when it cannot be made, the label keeps
    // the font it had. Otherwise the earlier font is released; the next colour
    // request selects the new one.
    CFont fresh;
    if (!fresh.createPointFont(tenthsOfPoint, face)) return;
    std::swap(labelFont.handle, fresh.handle);
    std::swap(labelFont.tenthsOfPoint, fresh.tenthsOfPoint);
    std::swap(labelFont.face, fresh.face);
    fresh.deleteObject();
}

Handle ColorLabel::reflectCtlColor(CDC& dc, unsigned /*ctlType*/)
{
    dc.setTextColor(textColor);
    dc.setBkColor(backColor);
    if (labelFont.exists()) dc.selectFont(labelFont);
    // No brush: not handled, so the parent's default colouring follows.
    return backBrush.exists() ? backBrush.handle : nullptr;
}
