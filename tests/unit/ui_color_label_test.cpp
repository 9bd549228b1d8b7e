#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/model/ModelWindows.h"
#include "ui/ColorLabel.h"

namespace {

// A device context that writes down what the colour request did to it.
class RecordingDC : public CDC {
public:
    void setTextColor(ColorRef color) override
    {
        calls.push_back("text");
        text = color;
    }
    void setBkColor(ColorRef color) override
    {
        calls.push_back("back");
        back = color;
    }
    void selectFont(CFont& font) override
    {
        calls.push_back("font");
        fontFace = font.face;
        fontTenths = font.tenthsOfPoint;
        fontHandle = font.handle;
    }
    void drawIcon(int, int, Handle) override { calls.push_back("icon"); }
    Handle nativeHandle() override { return this; }

    std::vector<std::string> calls;
    ColorRef text = 0x123456;
    ColorRef back = 0x654321;
    std::string fontFace;
    int fontTenths = 0;
    Handle fontHandle = nullptr;
};

} // namespace

TEST(ColorLabel, AnswersItsColoursFontAndBrushInOrder)
{
    ColorLabel label;
    label.setTextColor(0xFF0000);
    label.setBackColor(0xFFFFFF);
    label.createPointFont(190, "Times New Roman Bold");

    RecordingDC dc;
    const Handle brush = label.reflectCtlColor(dc, 6);

    EXPECT_EQ(dc.calls, (std::vector<std::string>{"text", "back", "font"}));
    EXPECT_EQ(dc.text, 0xFF0000u);
    EXPECT_EQ(dc.back, 0xFFFFFFu);
    EXPECT_EQ(dc.fontFace, "Times New Roman Bold");
    EXPECT_EQ(dc.fontTenths, 190);
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(brush, label.backBrush.handle);
    EXPECT_EQ(label.backBrush.color, 0xFFFFFFu);
}

TEST(ColorLabel, WithoutBrushTheRequestStaysUnhandled)
{
    struct Case {
        const char* name;
        bool withFont;
    };
    for (const Case& c : {Case{"plain label", false}, Case{"font only", true}}) {
        SCOPED_TRACE(c.name);
        ColorLabel label;
        if (c.withFont) label.createPointFont(90, "Arial");
        RecordingDC dc;
        EXPECT_EQ(label.reflectCtlColor(dc, 6), nullptr);
        if (c.withFont) {
            EXPECT_EQ(dc.calls, (std::vector<std::string>{"text", "back", "font"}));
            EXPECT_EQ(dc.fontFace, "Arial");
        } else {
            EXPECT_EQ(dc.calls, (std::vector<std::string>{"text", "back"}));
        }
        EXPECT_FALSE(label.backBrush.exists());
    }
}

TEST(ColorLabel, ASecondBackgroundReplacesTheBrush)
{
    ColorLabel label;
    label.setBackColor(0x00FF00);
    label.setBackColor(0x0000FF);

    RecordingDC dc;
    const Handle brush = label.reflectCtlColor(dc, 6);
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(brush, label.backBrush.handle);
    EXPECT_EQ(label.backBrush.color, 0x0000FFu);
    EXPECT_EQ(dc.back, 0x0000FFu);
}

TEST(ColorLabel, ASecondFontReplacesTheFirstInThePaint)
{
    ColorLabel label;
    label.createPointFont(150, "Times New Roman");
    label.createPointFont(85, "Arial");

    RecordingDC dc;
    label.reflectCtlColor(dc, 6);
    EXPECT_EQ(dc.fontFace, "Arial");
    EXPECT_EQ(dc.fontTenths, 85);
    EXPECT_EQ(dc.fontHandle, label.labelFont.handle);
    EXPECT_EQ(std::count(dc.calls.begin(), dc.calls.end(), "font"), 1);
}

TEST(ColorLabel, KeepsNoMoreThanOneBrushAndOneFontAlive)
{
    const int fonts = modelLiveFonts();
    const int brushes = modelLiveBrushes();
    {
        ColorLabel label;
        label.setBackColor(0x00FF00);
        label.setBackColor(0x0000FF);
        label.createPointFont(150, "Times New Roman");
        label.createPointFont(85, "Arial");
        EXPECT_EQ(modelLiveBrushes(), brushes + 1);
        EXPECT_EQ(modelLiveFonts(), fonts + 1);
    }
    EXPECT_EQ(modelLiveBrushes(), brushes);
    EXPECT_EQ(modelLiveFonts(), fonts);
    {
        // A label that never got either releases nothing of anybody else's.
        ColorLabel plain;
    }
    EXPECT_EQ(modelLiveBrushes(), brushes);
    EXPECT_EQ(modelLiveFonts(), fonts);
}
