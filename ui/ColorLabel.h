#pragma once

#include "platform/classlib/ClassLib.h"

// A text control that paints with its own text colour, background and font,
// by answering the colour request its parent reflects back to it.
class ColorLabel : public CStatic {
public:
    ColorLabel() = default;
    ~ColorLabel() override;

    void setTextColor(ColorRef color);
    void setBackColor(ColorRef color);
    void createPointFont(int tenthsOfPoint, const std::string& face);

    Handle reflectCtlColor(CDC& dc, unsigned ctlType) override;

    ColorRef textColor = 0;
    ColorRef backColor = 0xFFFFFF;
    CBrush backBrush;
    CFont labelFont;
};
