// The host object of the script, in the manner of the Windows script host:
// WScript.Echo(...) prints its arguments separated by blanks and a line feed;
// WScript.Arguments(i), .Item(i), .Count() and .length give the command-line
// arguments after the script's name; WScript.Quit(code) ends the script with
// that exit code; WScript.LastResult is the success code of the last call to
// an object (1 for S_FALSE).
#pragma once

#include <duktape.h>

#include <string>
#include <vector>

namespace cadb::host {

void wscript_install(duk_context* ctx, const std::string& script_name,
                     const std::vector<std::string>& arguments);

// Whether the value at idx is what WScript.Quit threw; *code is its exit code.
bool wscript_is_quit(duk_context* ctx, duk_idx_t idx, int* code);

}  // namespace cadb::host
