#include "platform/terminal/TerminalFrontEnd.h"

#include <unistd.h>

#include <clocale>
#include <iostream>
#include <memory>

#include "platform/linux/MessagePresenter.h"
#include "platform/terminal/TerminalFrontEndImpl.h"

using namespace terminalfrontend;

TerminalFrontEnd::Impl::Impl(TerminalSettings s)
    : settings(std::move(s)), in(settings.input != nullptr ? *settings.input : std::cin),
      out(settings.output != nullptr ? *settings.output : std::cout)
{
    const bool onStdin = settings.input == nullptr;
    const bool tty = onStdin && isatty(STDIN_FILENO) == 1;
    switch (settings.mode) {
    case TerminalSettings::Mode::Keys:
        keys = true;
        break;
    case TerminalSettings::Mode::Lines:
        keys = false;
        break;
    case TerminalSettings::Mode::Automatic:
        keys = tty;
        break;
    }
    if (keys && tty) inputFd = STDIN_FILENO;
    ansi = keys && settings.ansi;
}

TerminalFrontEnd::TerminalFrontEnd(TerminalSettings settings) : impl_(new Impl(std::move(settings)))
{
}

TerminalFrontEnd::~TerminalFrontEnd()
{
    uninstall();
    if (impl_->inputFd >= 0) restoreTerminalNow();
    delete impl_;
}

void TerminalFrontEnd::install()
{
    setModalDriver(this);
    setMessagePresenter([this](CWnd* owner, const std::string& text, const std::string& title,
                               uint32_t flags) { return messageBox(owner, text, title, flags); });
    setRepaintHook([this](CDialog& dialog) { repaint(dialog); });
    impl_->installed = true;
}

void TerminalFrontEnd::uninstall()
{
    if (!impl_->installed) return;
    impl_->installed = false;
    if (modalDriver() == this) setModalDriver(nullptr);
    setMessagePresenter(nullptr);
    setRepaintHook(nullptr);
}

bool TerminalFrontEnd::keysMode() const
{
    return impl_->keys;
}

void TerminalFrontEnd::run(CDialog& dialog)
{
    impl_->lastPrinted.clear();
    impl_->lastProgressLine.clear();
    if (impl_->keys)
        impl_->runKeys(dialog);
    else
        impl_->runLines(dialog);
}

int TerminalFrontEnd::messageBox(CWnd*, const std::string& text, const std::string& title,
                                 uint32_t flags)
{
    const int answer =
        impl_->keys ? impl_->boxKeys(text, title, flags) : impl_->boxLines(text, title, flags);
    impl_->lastScreen.clear();
    return answer;
}

void TerminalFrontEnd::repaint(CDialog& dialog)
{
    if (impl_->keys) {
        impl_->enterRaw();
        impl_->draw(impl_->convert(impl_->dialogSource(dialog)), false);
    } else {
        impl_->repaintLines(dialog);
    }
}

std::vector<std::string> TerminalFrontEnd::renderDialog(CDialog& dialog)
{
    return impl_->convert(impl_->dialogSource(dialog));
}

std::vector<std::string> TerminalFrontEnd::renderMessageBox(const std::string& text,
                                                            const std::string& title,
                                                            uint32_t flags, int focusedButton)
{
    return impl_->convert(impl_->boxSource(text, title, flags, focusedButton));
}

TerminalFrontEnd& runTerminalFrontEnd(TerminalSettings settings)
{
    std::setlocale(LC_ALL, "");
    // The seams the front end plugs into must outlive it at program end.
    installedMessagePresenter();
    setRepaintHook(nullptr);
    static std::unique_ptr<TerminalFrontEnd> frontEnd;
    frontEnd = std::make_unique<TerminalFrontEnd>(std::move(settings));
    frontEnd->install();
    return *frontEnd;
}
