// The seam through which the Linux services show a message box: the front end
// (the terminal) installs a presenter that shows the box and answers the
// button the user chose, in the Windows answer values (IDOK_, IDYES_, ...).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"

using MessagePresenter = std::function<int(CWnd* owner, const std::string& text,
                                           const std::string& title, uint32_t flags)>;

inline MessagePresenter& installedMessagePresenter()
{
    static MessagePresenter presenter;
    return presenter;
}

// An empty function removes the presenter.
inline void setMessagePresenter(MessagePresenter presenter)
{
    installedMessagePresenter() = std::move(presenter);
}

// The answer of a box nobody can see: the choice that changes nothing (OK for
// a box with only OK, otherwise No or Cancel).
inline int unattendedMessageBoxAnswer(uint32_t flags)
{
    switch (flags & 0xF) {
    case 1: // OK, Cancel
    case 5: // Retry, Cancel
        return IDCANCEL_;
    case 3: // Yes, No, Cancel
    case 4: // Yes, No
        return IDNO_;
    case 2: // Abort, Retry, Ignore
        return 3;
    default:
        return IDOK_;
    }
}
