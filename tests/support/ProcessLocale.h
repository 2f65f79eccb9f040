// The whole process in a locale, as QApplication sets it from LANG, for the
// scope's lifetime, put back afterwards. A locale that cannot be set must
// fail the test, never skip it: scripts/install-deps.sh generates the comma
// locale.
#pragma once

#include <clocale>
#include <string>

// A locale whose decimal point is ','.
constexpr const char* kCommaLocale = "de_DE.UTF-8";

class ProcessLocale {
public:
    explicit ProcessLocale(const char* name, int category = LC_ALL)
        : m_category(category), m_before(std::setlocale(category, nullptr)) {
        m_active = std::setlocale(category, name) != nullptr;
    }
    ~ProcessLocale() { std::setlocale(m_category, m_before.c_str()); }
    ProcessLocale(const ProcessLocale&) = delete;
    ProcessLocale& operator=(const ProcessLocale&) = delete;
    bool active() const { return m_active; }

private:
    int m_category;
    std::string m_before;
    bool m_active = false;
};
