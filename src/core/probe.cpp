#include "core/probe.h"

#include <cstdlib>

#include "core/port_text.h"
#include "core/tally_client.h"
#include "core/tally_result.h"

namespace korvane {

// An import request with nothing to import: harmless, yet Tally answers it with the
// no-company line error when no company is open.
const std::string ProbeEnvelope =
    std::string("<ENVELOPE><HEADER><TALLYREQUEST>Import Data</TALLYREQUEST></HEADER><BODY>"
                "<IMPORTDATA><REQUESTDESC><REPORTNAME>All Masters</REPORTNAME></REQUESTDESC>"
                "<REQUESTDATA><TALLYMESSAGE xmlns:UDF=\"TallyUDF\">") +
    "</TALLYMESSAGE></REQUESTDATA></IMPORTDATA></BODY></ENVELOPE>";

const char* const ProbeNoCompanyQuestion =
    "No Company is open in Tally!!!\rAtleast one company must be open in Tally.\r\r"
    "You must start Tally Software and open the\rCompany in which data is to be imported.\r"
    "Want to retry ?";

const char* const ProbeUnreachableQuestion =
    "Could not Connect to Tally.\r\r"
    "You must start Tally Software and open the\rCompany in which data is to be imported.\r"
    "Want to retry ?";

std::int32_t ProbeTally(std::string_view serverPortText, std::string_view serverAddressText,
                        ProbeQuestions& questions, ApplicationControl& control,
                        const TallyProgress& whileWaiting) {
    // Both are zero-terminated texts: each ends at its first NUL.
    serverPortText = serverPortText.substr(0, serverPortText.find('\0'));
    serverAddressText = serverAddressText.substr(0, serverAddressText.find('\0'));

    const std::int32_t port = PortTextToInt(serverPortText);  // throws before anything is sent
    const std::int32_t rc = PostToTally(ProbeEnvelope, serverAddressText, port, whileWaiting);
    if (rc == TALLY_OK) return rc;

    const char* question =
        rc == TALLY_NO_COMPANY ? ProbeNoCompanyQuestion : ProbeUnreachableQuestion;
    if (questions.AskYesNo(question)) return rc;
    // A refused retry ends the program as a failure.
    control.Terminate();
    control.Halt(1);
    std::abort();  // Halt never returns; the compiler cannot see that through the virtual call
}

}  // namespace korvane
