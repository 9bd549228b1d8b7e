#pragma once

#include <string>

#include "platform/classlib/ClassLib.h"
#include "ui/ColorLabel.h"

inline constexpr unsigned IDD_NOTICE = 129;

class NoticeDialog : public CDialog {
public:
    NoticeDialog();
    bool onInitDialog() override;

    ColorLabel noticeTextLabel;
    ColorLabel panelFrame;
    CStatic logoPicture;
    ColorLabel footerLabel;
    ColorLabel noticeGroup;
    ColorLabel informationLabel;
    ColorLabel versionLabel;
    ColorLabel headlineLabel;
    std::string noticeText;
};

// The computed parts of the notice page, exposed for tests.
std::string noticeVendorText(const char* inquiryList);
std::string noticeModelName(const char* inquiryList);
std::string noticeKindWord(unsigned cautionKind);
std::string noticeHeadline(const char* inquiryList);
std::string noticeMakerName(const std::string& vendorText);
std::string noticeCaption(const std::string& modelName, const char* firmwareVersion);
std::string buildNoticeText(const std::string& vendorText, const std::string& kindWord,
                            const std::string& modelName);
