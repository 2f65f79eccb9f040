#include "platform/QtPrompt.h"

#include <QFileDialog>
#include <QMessageBox>

#include "platform/GuiThread.h"

namespace {

QMessageBox::StandardButtons toButtons(PromptButtons buttons) {
    switch (buttons) {
        case PromptButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case PromptButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case PromptButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case PromptButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        case PromptButtons::Ok:
            break;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon toIcon(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Information:
            return QMessageBox::Information;
        case PromptIcon::Warning:
            return QMessageBox::Warning;
        case PromptIcon::Error:
            return QMessageBox::Critical;
        case PromptIcon::Question:
            return QMessageBox::Question;
        case PromptIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

int toAnswer(int button) {
    switch (button) {
        case QMessageBox::Ok:
            return kAnswerOk;
        case QMessageBox::Yes:
            return kAnswerYes;
        case QMessageBox::No:
            return kAnswerNo;
        case QMessageBox::Retry:
            return kAnswerRetry;
        default:
            return kAnswerCancel;
    }
}

}  // namespace

int QtPrompt::messageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                         PromptIcon icon) {
    int answer = kAnswerCancel;
    runOnGuiThread([&] {
        QMessageBox box(toIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                        toButtons(buttons), m_owner.data());
        if (m_blocks == Blocks::OwnerOnly && m_owner) box.setWindowModality(Qt::WindowModal);
        answer = toAnswer(box.exec());
    });
    return answer;
}

std::string QtPrompt::openFile(const std::string& title, const std::string& filter) {
    std::string path;
    runOnGuiThread([&] {
        const QString chosen =
            QFileDialog::getOpenFileName(m_owner.data(), QString::fromStdString(title), QString(),
                                         QString::fromStdString(filter));
        path = chosen.toStdString();
    });
    return path;
}

std::string QtPrompt::saveFile(const std::string& title, const std::string& filter,
                               const std::string& suggested) {
    std::string path;
    runOnGuiThread([&] {
        const QString chosen = QFileDialog::getSaveFileName(
            m_owner.data(), QString::fromStdString(title), QString::fromStdString(suggested),
            QString::fromStdString(filter));
        path = chosen.toStdString();
    });
    return path;
}
