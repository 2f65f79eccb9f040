// Preparing an upgrade: the engineer picks a package, its "upinfo.txt" is
// shown for confirmation, and the complete Upgrade request (code, record,
// package) is built once. A later choice that fails or is not confirmed keeps
// the earlier accepted package; the record is never cleared between choices,
// so fields a later reading does not write keep their earlier values.
#pragma once

#include <string>

#include "maintenance/MaintenanceProtocol.h"
#include "maintenance/UpInfo.h"
#include "platform/Prompt.h"

class UpgradeChoice {
public:
    UpgradeChoice(Prompt& prompt, bool chinese) : m_prompt(prompt), m_chinese(chinese) {}

    // Reads the package at path, asks for confirmation and, when the engineer
    // confirms, prepares the request. True when the package was accepted.
    bool choose(const std::string& path);

    bool ready() const { return m_ready; }
    const UpInfo& info() const { return m_info; }
    const Request& request() const { return m_request; }
    // Hands the prepared request over (it can be hundreds of megabytes).
    Request takeRequest() { return std::move(m_request); }

private:
    bool readTar(const std::string& path);
    bool readZip(const std::string& path);
    bool confirm(const std::string& text);
    // Reads the package into a new request; filename (a tar's "update.tar")
    // goes into the record when given. The earlier request stays on failure.
    bool readWholePackage(const std::string& path, const char* filename);
    void box(const char* text);

    Prompt& m_prompt;
    bool m_chinese;
    bool m_ready = false;
    UpInfo m_info;
    Request m_request;
};
