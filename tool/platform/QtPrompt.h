// Prompt shown with Qt dialogs owned by a window; callable from any thread.
// A box blocks the whole application, or, for a window that runs beside the
// main window (the registration dialog), only the window that owns it.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/Prompt.h"

class QtPrompt : public Prompt {
public:
    enum class Blocks { Application, OwnerOnly };
    explicit QtPrompt(QWidget* owner, Blocks blocks = Blocks::Application)
        : m_owner(owner), m_blocks(blocks) {}

    int messageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                   PromptIcon icon) override;
    std::string openFile(const std::string& title, const std::string& filter) override;
    std::string saveFile(const std::string& title, const std::string& filter,
                         const std::string& suggested) override;

private:
    QPointer<QWidget> m_owner;
    Blocks m_blocks;
};
