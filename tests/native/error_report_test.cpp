// The reporter's layout: message line, source line, caret line (tabs to
// multiples of eight), warning prefix.
#include <string>

#include "check.h"
#include "error_report.h"

using namespace kx4;

int main() {
    struct Case {
        const char *what;
        const char *message;
        bool hasReport;
        ErrorReport report;
        const char *expected;
    };
    const char *tabbed = "\tfoo bar";
    const char *plain = "x = y +;";
    const char *withNewline = "a b\n";
    const char *mixed = "a\tb\tc";
    Case cases[] = {
        {"no report: message only", "boom", false, {}, "boom\n"},
        {"file and line", "Error: boom", true, {"a.js", 3, nullptr, nullptr, 0}, "a.js:3 Error: boom\n"},
        {"no line: message line left out", "boom", true, {"a.js", 0, nullptr, nullptr, 0}, ""},
        {"no file: message line left out", "boom", true, {nullptr, 3, nullptr, nullptr, 0}, ""},
        {"tab then token", "m", true, {"f", 1, tabbed, tabbed + 1, 0}, "f:1 m\n\tfoo bar\n--------^\n"},
        {"plain caret", "m", true, {"f", 2, plain, plain + 7, 0}, "f:2 m\nx = y +;\n-------^\n"},
        {"line with its own newline", "m", true, {"f", 2, withNewline, withNewline + 2, 0}, "f:2 m\na b\n--^\n"},
        {"tabs after text", "m", true, {"f", 1, mixed, mixed + 4, 0}, "f:1 m\na\tb\tc\n----------------^\n"},
        {"source line without token: not printed", "m", true, {"f", 1, plain, nullptr, 0}, "f:1 m\n"},
        {"warning prefix after the report", "w", true, {"f", 1, nullptr, nullptr, kReportWarning}, "f:1 w\nwarning: "},
        {"strict warning", "w", true, {"f", 1, nullptr, nullptr, kReportWarning | kReportStrict},
         "f:1 w\nwarning (strict): "},
        {"strict alone is no warning", "w", true, {"f", 1, nullptr, nullptr, kReportStrict}, "f:1 w\n"},
    };
    for (const Case &c : cases) {
        std::string got = formatErrorReport(c.message, c.hasReport ? &c.report : nullptr);
        CHECK_MSG(got == c.expected, "%s: got [%s]", c.what, got.c_str());
    }
    return checkResult("error_report_test");
}
