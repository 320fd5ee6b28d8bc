/* The host's error reporter: the text it prints for an error report.
 * Portable code so the exact layout can be tested natively. */
#ifndef KX4_ERROR_REPORT_H
#define KX4_ERROR_REPORT_H

#include <string>

namespace kx4 {

enum { kReportWarning = 1, kReportException = 2, kReportStrict = 4 };

struct ErrorReport {
    const char *fileName = nullptr;
    unsigned lineNumber = 0;
    const char *sourceLine = nullptr;  // the offending line, when known
    const char *token = nullptr;       // points into sourceLine
    unsigned flags = 0;
};

// The output for one report; report may be null (message only).
std::string formatErrorReport(const char *message, const ErrorReport *report);

// Prints formatErrorReport to standard output.
void printErrorReport(const char *message, const ErrorReport *report);

}  // namespace kx4

#endif
