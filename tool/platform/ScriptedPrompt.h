// Prompt for tests: answers from a script and a record of what was asked.
// Header-only so that tests without Qt can use it too.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Prompt.h"

class ScriptedPrompt : public Prompt {
public:
    struct Asked {
        std::string text;
        std::string caption;
        PromptButtons buttons;
        PromptIcon icon;
    };

    // Answers given to the next message boxes, in order; when the script runs
    // out every box answers kAnswerOk.
    void queueAnswer(int answer) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.push_back(answer);
    }
    // File names given to the next open-file dialogs ("" = cancelled).
    void queueFile(const std::string& path) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_files.push_back(path);
    }

    int messageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                   PromptIcon icon) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_asked.push_back(Asked{text, caption, buttons, icon});
        if (m_answers.empty()) return kAnswerOk;
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    // Save dialogs take their answers from the same file script.
    std::string saveFile(const std::string& title, const std::string& filter,
                         const std::string&) override {
        return openFile(title, filter);
    }

    std::string openFile(const std::string& title, const std::string&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fileTitles.push_back(title);
        if (m_files.empty()) return std::string();
        std::string path = m_files.front();
        m_files.pop_front();
        return path;
    }

    std::vector<Asked> asked() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_asked;
    }
    std::vector<std::string> fileTitles() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_fileTitles;
    }

private:
    mutable std::mutex m_mutex;
    std::deque<int> m_answers;
    std::deque<std::string> m_files;
    std::vector<Asked> m_asked;
    std::vector<std::string> m_fileTitles;
};
