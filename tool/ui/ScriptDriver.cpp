#include "ui/ScriptDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "ui/CKestToolsDlg.h"

ScriptTiming& scriptTiming() {
    static ScriptTiming timing;
    return timing;
}

namespace {

bool readInt(const std::string& word, int& value) {
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value);
    return !word.empty() && result.ec == std::errc() && result.ptr == end;
}

// The rest of the line after the words already read, without blanks around it.
std::string restOf(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    const size_t first = rest.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return rest.substr(first, rest.find_last_not_of(" \t") + 1 - first);
}

bool parseLine(const std::string& line, ScriptStep& step) {
    std::istringstream in(line);
    std::string verb, word;
    in >> verb;
    if (verb == "sleep" || verb == "command") {
        step.kind = verb == "sleep" ? ScriptStep::Sleep : ScriptStep::Command;
        return in >> word && readInt(word, step.number) && step.number >= 0 && restOf(in).empty();
    }
    if (verb == "click") {
        std::string y;
        step.kind = ScriptStep::Click;
        if (!(in >> word >> y) || !readInt(word, step.number) || !readInt(y, step.y)) return false;
        step.text = restOf(in);
        return !step.text.empty();
    }
    if (verb == "quit") {
        step.kind = ScriptStep::Quit;
        return restOf(in).empty();
    }
    if (verb == "press")
        step.kind = ScriptStep::Press;
    else if (verb == "file")
        step.kind = ScriptStep::File;
    else if (verb == "close")
        step.kind = ScriptStep::Close;
    else if (verb == "mark")
        step.kind = ScriptStep::Mark;
    else
        return false;
    step.text = restOf(in);
    return !step.text.empty();
}

QString withoutMnemonic(QString text) {
    return text.remove(QLatin1Char('&'));
}

QList<QWidget*> visibleWindows() {
    QList<QWidget*> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) windows.append(w);
    return windows;
}

CKestToolsDlg* mainWindow() {
    for (QWidget* w : visibleWindows())
        if (auto* dlg = qobject_cast<CKestToolsDlg*>(w)) return dlg;
    return nullptr;
}

bool usable(QAbstractButton* button) {
    return button && button->isVisible() && button->isEnabled();
}

QAbstractButton* buttonCaptioned(const QString& caption) {
    QList<QWidget*> windows = visibleWindows();
    // Message boxes first: their OK must not lose to a button behind them.
    std::stable_partition(windows.begin(), windows.end(),
                          [](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; });
    for (QWidget* window : windows)
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
            if (usable(button) && withoutMnemonic(button->text()) == caption) return button;
    return nullptr;
}

QAbstractButton* buttonAt(const QString& title, int x, int y) {
    for (QWidget* window : visibleWindows()) {
        if (window->windowTitle() != title) continue;
        for (QWidget* w = window->childAt(x, y); w && w != window; w = w->parentWidget())
            if (auto* button = qobject_cast<QAbstractButton*>(w))
                return usable(button) ? button : nullptr;
    }
    return nullptr;
}

QWidget* windowTitled(const QString& title) {
    for (QWidget* w : visibleWindows())
        if (w->windowTitle() == title) return w;
    return nullptr;
}

QFileDialog* fileDialog() {
    for (QWidget* w : visibleWindows())
        if (auto* dialog = qobject_cast<QFileDialog*>(w)) return dialog;
    return nullptr;
}

}  // namespace

bool parseScript(const std::string& text, std::vector<ScriptStep>& steps, std::string& error) {
    std::istringstream in(text);
    std::string line;
    std::vector<ScriptStep> parsed;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        ScriptStep step{};
        if (!parseLine(line, step)) {
            error = line;
            return false;
        }
        parsed.push_back(step);
    }
    steps = std::move(parsed);
    return true;
}

class ScriptDriver : public std::enable_shared_from_this<ScriptDriver> {
public:
    explicit ScriptDriver(std::vector<ScriptStep> steps) : m_steps(std::move(steps)) {}

    void schedule(int ms) {
        std::weak_ptr<ScriptDriver> self = shared_from_this();
        // A new single-shot timer for each try: a timer does not fire again
        // while its own handler runs, and a handler may sit in a modal loop.
        QTimer::singleShot(ms, qApp, [self] {
            if (auto driver = self.lock()) driver->attempt();
        });
    }

    void begin() {
        m_stepClock.start();
        schedule(0);
    }

private:
    void attempt() {
        if (m_index >= m_steps.size()) return;
        const ScriptStep step = m_steps[m_index];
        const size_t number = m_index + 1;
        if (step.kind == ScriptStep::Sleep) {
            next();
            schedule(step.number);
            return;
        }
        std::function<void()> act = ready(step);
        if (!act) {
            if (m_stepClock.elapsed() > scriptTiming().giveUpMs.load()) {
                std::fprintf(stderr, "kest-script failed at step %zu: nothing to act on\n", number);
                m_index = m_steps.size();
                return;
            }
            schedule(scriptTiming().pollMs.load());
            return;
        }
        // On to the next step before acting: the action may open a modal
        // loop, and the next steps run inside it.
        next();
        schedule(scriptTiming().pollMs.load());
        act();
    }

    void next() {
        ++m_index;
        m_stepClock.restart();
    }

    // The step's action when its target is on screen, else an empty one.
    std::function<void()> ready(const ScriptStep& step) {
        const QString text = QString::fromStdString(step.text);
        switch (step.kind) {
            case ScriptStep::Command: {
                QPointer<CKestToolsDlg> dlg = mainWindow();
                if (!dlg) return {};
                return [dlg, id = step.number] {
                    if (dlg) dlg->OnCommand(id);
                };
            }
            case ScriptStep::Press:
            case ScriptStep::Click: {
                QPointer<QAbstractButton> button = step.kind == ScriptStep::Press
                                                       ? buttonCaptioned(text)
                                                       : buttonAt(text, step.number, step.y);
                if (!button) return {};
                return [button] {
                    if (button) button->click();
                };
            }
            case ScriptStep::File: {
                QPointer<QFileDialog> dialog = fileDialog();
                if (!dialog) return {};
                // Typed into the name field as a whole path: selectFile leaves
                // that field alone while it has the focus. Accepted only once
                // the dialog reads it back (it may still be loading its folder).
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (!name) return {};
                name->setText(text);
                const QStringList chosen = dialog->selectedFiles();
                if (chosen.size() != 1 || QFileInfo(chosen.front()) != QFileInfo(text)) return {};
                return [dialog] {
                    if (dialog) static_cast<QDialog*>(dialog.data())->accept();  // its own accept
                };
            }
            case ScriptStep::Close: {
                QPointer<QWidget> window = windowTitled(text);
                if (!window) return {};
                return [window] {
                    if (window) window->close();
                };
            }
            case ScriptStep::Mark:
                return [name = step.text] {
                    std::fprintf(stderr, "kest-script mark %s %lld\n", name.c_str(),
                                 static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
                    std::fflush(stderr);
                };
            case ScriptStep::Quit: {
                QPointer<CKestToolsDlg> dlg = mainWindow();
                if (!dlg) return {};
                return [dlg] {
                    if (dlg) dlg->close();
                };
            }
            case ScriptStep::Sleep:
                break;
        }
        return {};
    }

    std::vector<ScriptStep> m_steps;
    size_t m_index = 0;
    QElapsedTimer m_stepClock;
};

std::shared_ptr<ScriptDriver> startScript(std::vector<ScriptStep> steps) {
    auto driver = std::make_shared<ScriptDriver>(std::move(steps));
    driver->begin();
    return driver;
}

std::shared_ptr<ScriptDriver> startScriptFromEnvironment() {
    const char* path = std::getenv("KEST_SCRIPT");
    if (!path || !*path) return nullptr;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<ScriptStep> steps;
    std::string error;
    if (!in || !parseScript(text.str(), steps, error)) {
        std::fprintf(stderr, "kest-script failed: cannot read [%s] %s\n", path, error.c_str());
        return nullptr;
    }
    return startScript(std::move(steps));
}
