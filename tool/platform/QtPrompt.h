// Prompt shown with Qt dialogs owned by a window; callable from any thread.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/Prompt.h"

class QtPrompt : public Prompt {
public:
    explicit QtPrompt(QWidget* owner) : m_owner(owner) {}

    int messageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                   PromptIcon icon) override;
    std::string openFile(const std::string& title, const std::string& filter) override;
    std::string saveFile(const std::string& title, const std::string& filter,
                         const std::string& suggested) override;

private:
    QPointer<QWidget> m_owner;
};
