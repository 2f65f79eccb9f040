// What the registration command of the main dialog uses besides the dialog
// itself: the run service, the prompt for its messages and a look at each
// registration dialog before it runs. The tool uses the defaults; tests
// put in a service of their own, a scripted prompt and a driver.
#pragma once

#include <functional>

class CRegData;
class Prompt;
class RegistrationService;

struct RegistrationUiHooks {
    RegistrationService* service = nullptr;      // nullptr: the process-wide one
    Prompt* prompt = nullptr;                    // nullptr: message boxes of the main dialog
    std::function<void(CRegData&)> beforeModal;  // called just before each dialog runs
};

RegistrationUiHooks& registrationUiHooks();
