// Preparing an upgrade: the engineer picks a package, its "upinfo.txt" is
// shown for confirmation, and the complete Upgrade request (code, record,
// package) is built once. A later choice that fails or is not confirmed keeps
// the earlier accepted package; the record is never cleared between choices,
// so fields a later reading does not write keep their earlier values.
//
// The file work (the member search, the whole package read) can take seconds
// for a package of hundreds of megabytes; it goes through a step runner that
// the window points at a worker thread. The prompts are asked on the thread
// that called choose, between the steps, in the same order either way.
#pragma once

#include <functional>
#include <string>

#include "maintenance/MaintenanceProtocol.h"
#include "maintenance/UpInfo.h"
#include "platform/Prompt.h"

class UpgradeChoice {
public:
    // Runs one step of file work and returns when it has ended; the default
    // runs it at once on the calling thread.
    using StepRunner = std::function<void(const std::function<void()>& step)>;

    UpgradeChoice(Prompt& prompt, bool chinese, StepRunner runner = {})
        : m_prompt(prompt), m_chinese(chinese), m_runStep(std::move(runner)) {}

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
    void runStep(const std::function<void()>& step);

    Prompt& m_prompt;
    bool m_chinese;
    StepRunner m_runStep;
    bool m_ready = false;
    UpInfo m_info;
    Request m_request;
};
