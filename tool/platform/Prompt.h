// User prompts that features raise: a message box with buttons and an icon,
// and an open-file dialog. The Qt implementation shows real dialogs (from any
// thread: it runs them on the GUI thread); tests use ScriptedPrompt.
#pragma once

#include <string>

// Caption of the application's own message boxes.
constexpr const char* kAppTitle = "KestTools";

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class PromptIcon { None, Information, Warning, Error, Question };

// Answers of a message box, numbered like the classic dialog results.
enum PromptAnswer {
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerRetry = 4,
    kAnswerYes = 6,
    kAnswerNo = 7,
};

class Prompt {
public:
    virtual ~Prompt() = default;
    // Shows text with the caption; returns the button that was pressed.
    virtual int messageBox(const std::string& text, const std::string& caption,
                           PromptButtons buttons, PromptIcon icon) = 0;
    // Lets the engineer pick an existing file; "" when cancelled. filter is in
    // the "Name (*.zip *.tar)" form.
    virtual std::string openFile(const std::string& title, const std::string& filter) = 0;
    // Lets the engineer name a file to write, offering suggested; "" when
    // cancelled.
    virtual std::string saveFile(const std::string& title, const std::string& filter,
                                 const std::string& suggested) = 0;
};
