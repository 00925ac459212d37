// The script host: runs a JavaScript file with WScript and ActiveXObject,
// in the manner of the Windows script host's console form.
//   cadb-script script.js [arguments...]
// Exit code: the script's WScript.Quit code, 0 when it runs to its end, 1
// when it throws (the error is printed on stderr), 2 for a usage error.
#include <duktape.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/inproc.h"
#include "tools/js_activex.h"
#include "tools/js_wscript.h"

namespace {

// Prints an uncaught error: its text and, for errors of objects, the HRESULT.
void report(duk_context* ctx, const char* script) {
    std::string text = duk_safe_to_string(ctx, -1);
    if (duk_is_object(ctx, -1)) {
        duk_get_prop_string(ctx, -2, "number");
        if (duk_is_number(ctx, -1)) {
            char number[32];
            std::snprintf(number, sizeof number, " (0x%08X)",
                          static_cast<unsigned>(duk_get_int(ctx, -1)));
            text += number;
        }
        duk_pop(ctx);
    }
    std::fprintf(stderr, "%s: %s\n", script, text.c_str());
}

int run(const char* script, const std::string& source, const std::vector<std::string>& args) {
    duk_context* ctx = duk_create_heap_default();
    if (!ctx) {
        std::fprintf(stderr, "%s: out of memory\n", script);
        return 1;
    }
    cadb::host::wscript_install(ctx, script, args);
    cadb::host::activex_install(ctx);
    int code = 0;
    duk_push_string(ctx, script);
    if (duk_pcompile_lstring_filename(ctx, 0, source.data(), source.size()) != 0 ||
        duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) {
        if (!cadb::host::wscript_is_quit(ctx, -1, &code)) {
            report(ctx, script);
            code = 1;
        }
    }
    // Objects the script still holds are released with the heap.
    duk_destroy_heap(ctx);
    cadb::com::CoFreeUnusedLibraries();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s script.js [arguments...]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[1]);
        return 2;
    }
    std::ostringstream source;
    source << in.rdbuf();
    return run(argv[1], source.str(), std::vector<std::string>(argv + 2, argv + argc));
}
