#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/app_control.h"
#include "core/tally_client.h"

namespace korvane {

// The probe envelope: an "Import Data" request for "All Masters" with an empty TALLYMESSAGE.
extern const std::string ProbeEnvelope;

extern const char* const ProbeNoCompanyQuestion;
extern const char* const ProbeUnreachableQuestion;

// Asks the user a Yes/No question; true only for Yes.
class ProbeQuestions {
public:
    virtual ~ProbeQuestions() = default;
    virtual bool AskYesNo(const std::string& question) = 0;
};

// Posts the probe envelope and returns TALLY_OK, or the failure code once the user answered
// Yes to "Want to retry ?"; any other answer halts through control. Throws ConversionError
// before anything is sent when the port text is not a whole number. `whileWaiting` is called
// now and then during the exchange (a window can paint meanwhile).
std::int32_t ProbeTally(std::string_view serverPortText, std::string_view serverAddressText,
                        ProbeQuestions& questions, ApplicationControl& control,
                        const TallyProgress& whileWaiting = {});

}  // namespace korvane
