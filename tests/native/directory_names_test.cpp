// The package directory's names in listing order, read from its text: the
// order its entry streams follow, which the engine's enumeration does not
// keep for index-like names.
#include <string>
#include <vector>

#include "check.h"
#include "package_format.h"

using namespace kx4;

int main() {
    struct Case {
        const char *text;
        bool ok;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"({'scripts/a.js':{size:1, csize:9, time:0, module:\"app\"}, 'b':{size:2}})", true, {"scripts/a.js", "b"}},
        {"({'b.txt':{}, '10':{}, '2':{}, 'a.txt':{}})", true, {"b.txt", "10", "2", "a.txt"}},
        {"({})", true, {}},
        {"{ \"x\" : { a : [1, {b:'}'}] } , y:{}, 7:{} }", true, {"x", "y", "7"}},
        {" ( { 'q\\'t' :{}, 'h\\xE9\\u00ff':{},} ) ;\n", true, {"q't", "h\xE9\xFF"}},
        {"({'a':{s:'a,b}c'}, 'b':{}})", true, {"a", "b"}},
        {"({'\\u0100':{}})", false, {}},            // not 8-bit
        {"({1.5:{}})", false, {}},                  // not a plain integer
        {"({123456789012345:{}})", true, {"123456789012345"}},
        {"({12345678901234567890:{}})", false, {}}, // named after its rounded value
        {"({'a':{}} + x)", false, {}},              // an expression, not a literal
        {"({'a':{}", false, {}},                    // unterminated
        {"({'a':{/*}*/}})", false, {}},             // comments are not scanned
        {"", false, {}},
        {"({'a' {}})", false, {}},
    };
    for (const Case &c : cases) {
        std::vector<std::string> names;
        bool ok = directoryNamesInOrder(c.text, &names);
        CHECK_MSG(ok == c.ok, "%s", c.text);
        if (ok && c.ok) CHECK_MSG(names == c.names, "%s", c.text);
    }
    return checkResult("directory_names_test");
}
