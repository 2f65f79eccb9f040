#include "registration/RegistrationTiming.h"

RegistrationTiming& registrationTiming() {
    static RegistrationTiming timing;
    return timing;
}
