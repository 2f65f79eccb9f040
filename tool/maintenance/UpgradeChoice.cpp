#include "maintenance/UpgradeChoice.h"

#include <cstring>

#include "maintenance/MaintenanceMessages.h"
#include "maintenance/UpgradePackage.h"

namespace {
// The same text in both languages.
constexpr const char* kUnsupportedFormat = "不支持的文件格式！";
constexpr const char* kUpinfoNotFound = "升级包内未找到 upinfo.txt！";
constexpr const char* kConfirmCaption = "确认升级包数据";
const BilingualText kDamaged = {"升级包已损坏或不完整！",
                                "the update package is damaged or incomplete!"};
const BilingualText kTooLarge = {"升级包不能大于 2 GB！",
                                 "the update package must be smaller than 2 GB!"};
constexpr const char* kTarFileName = "update.tar";
}  // namespace

bool UpgradeChoice::choose(const std::string& path) {
    bool accepted = false;
    switch (packageKindOf(path)) {
        case PackageKind::Zip:
            accepted = readZip(path);
            break;
        case PackageKind::Tar:
            accepted = readTar(path);
            break;
        case PackageKind::Unsupported:
            box(kUnsupportedFormat);
            break;
    }
    if (accepted) m_ready = true;
    return accepted;
}

bool UpgradeChoice::readTar(const std::string& path) {
    std::string text;
    MemberSearch search = MemberSearch::NotFound;
    runStep([&] { search = findTarMember(path, "upinfo.txt", text); });
    switch (search) {
        case MemberSearch::NotFound:
            box(kUpinfoNotFound);
            return false;
        case MemberSearch::Damaged:
            box(kDamaged.in(m_chinese));
            return false;
        case MemberSearch::Found:
            break;
    }
    parseUpinfo(text, m_info);
    if (!confirm(text)) return false;
    return readWholePackage(path, kTarFileName);
}

bool UpgradeChoice::readZip(const std::string& path) {
    std::string text;
    MemberSearch search = MemberSearch::NotFound;
    runStep([&] { search = findZipUpinfo(path, text); });
    if (search == MemberSearch::Damaged) {
        // A zip that cannot be read whole is no package to send to a device.
        box(kDamaged.in(m_chinese));
        return false;
    }
    if (search == MemberSearch::Found) parseUpinfo(text, m_info);
    // Without "upinfo.txt" the engineer confirms an empty text.
    if (!confirm(text)) return false;
    return readWholePackage(path, nullptr);
}

bool UpgradeChoice::confirm(const std::string& text) {
    return m_prompt.messageBox(text, kConfirmCaption, PromptButtons::OkCancel, PromptIcon::None) ==
           kAnswerOk;
}

bool UpgradeChoice::readWholePackage(const std::string& path, const char* filename) {
    // The read stores the size in the record on the step's thread; the step
    // has ended before the record is touched here again.
    Request request;
    PackageRead read = PackageRead::CannotOpen;
    runStep([&] { read = readPackage(path, request, m_info); });
    switch (read) {
        case PackageRead::Ok:
            break;
        case PackageRead::CannotOpen:
            return false;
        case PackageRead::TooLarge:
            box(kTooLarge.in(m_chinese));
            return false;
        case PackageRead::ReadFailed:
            box(kDamaged.in(m_chinese));
            return false;
    }
    if (filename) setUpInfoText(m_info.filename, filename);
    encodeUpgradeHeader(m_info, request.data());
    m_request.swap(request);
    // An earlier package, given back off the calling thread too.
    if (!request.empty()) runStep([&] { Request().swap(request); });
    return true;
}

void UpgradeChoice::runStep(const std::function<void()>& step) {
    if (m_runStep)
        m_runStep(step);
    else
        step();
}

void UpgradeChoice::box(const char* text) {
    m_prompt.messageBox(text, kAppTitle, PromptButtons::Ok, PromptIcon::None);
}
