#include "error_report.h"

#include <stdio.h>
#include <string.h>

namespace kx4 {

std::string formatErrorReport(const char *message, const ErrorReport *report) {
    std::string out;
    if (!message) message = "";
    if (!report) {
        out += message;
        out += '\n';
        return out;
    }
    if (report->fileName && report->lineNumber) {
        out += report->fileName;
        out += ':';
        out += std::to_string(report->lineNumber);
        out += ' ';
        out += message;
        out += '\n';
    }
    if (report->sourceLine && report->token) {
        const char *line = report->sourceLine;
        out += line;
        if (*line && !strchr(line, '\n')) out += '\n';
        // The caret line mirrors the source line's layout: tabs advance to
        // the next multiple of eight.
        size_t column = 0;
        for (const char *p = line; *p && p < report->token; p++) {
            size_t next = *p == '\t' ? (column + 8) & ~(size_t)7 : column + 1;
            out.append(next - column, '-');
            column = next;
        }
        out += "^\n";
    }
    // The warning prefix stands at the start of whatever is printed next.
    if (report->flags & kReportWarning) {
        out += "warning";
        if (report->flags & kReportStrict) out += " (strict)";
        out += ": ";
    }
    return out;
}

void printErrorReport(const char *message, const ErrorReport *report) {
    std::string text = formatErrorReport(message, report);
    fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace kx4
