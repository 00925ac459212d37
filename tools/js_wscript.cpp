#include "tools/js_wscript.h"

#include <cstdio>

namespace cadb::host {

namespace {

constexpr const char* kQuitCode = DUK_HIDDEN_SYMBOL("quit");
constexpr const char* kItems = DUK_HIDDEN_SYMBOL("items");

duk_ret_t echo(duk_context* ctx) {
    const duk_idx_t n = duk_get_top(ctx);
    for (duk_idx_t i = 0; i < n; ++i) {
        if (i) std::fputc(' ', stdout);
        std::fputs(duk_safe_to_string(ctx, i), stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return 0;
}

duk_ret_t quit(duk_context* ctx) {
    const int code = duk_is_undefined(ctx, 0) ? 0 : duk_to_int(ctx, 0);
    duk_push_object(ctx);
    duk_push_int(ctx, code);
    duk_put_prop_string(ctx, -2, kQuitCode);
    return duk_throw(ctx);
}

// Arguments(i) and Arguments.Item(i): the i-th argument, RangeError beyond.
duk_ret_t argument_item(duk_context* ctx) {
    const duk_int_t i = duk_to_int(ctx, 0);
    duk_push_current_function(ctx);
    duk_get_prop_string(ctx, -1, kItems);
    if (i < 0 || static_cast<duk_size_t>(i) >= duk_get_length(ctx, -1))
        return duk_error(ctx, DUK_ERR_RANGE_ERROR, "Subscript out of range");
    duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(i));
    return 1;
}

duk_ret_t argument_count(duk_context* ctx) {
    duk_push_this(ctx);
    duk_get_prop_string(ctx, -1, "length");
    return 1;
}

}  // namespace

void wscript_install(duk_context* ctx, const std::string& script_name,
                     const std::vector<std::string>& arguments) {
    duk_push_object(ctx);  // WScript

    duk_push_c_function(ctx, echo, DUK_VARARGS);
    duk_put_prop_string(ctx, -2, "Echo");
    duk_push_c_function(ctx, quit, 1);
    duk_put_prop_string(ctx, -2, "Quit");
    duk_push_string(ctx, script_name.c_str());
    duk_put_prop_string(ctx, -2, "ScriptName");
    duk_push_int(ctx, 0);
    duk_put_prop_string(ctx, -2, "LastResult");

    duk_push_array(ctx);  // the arguments
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        duk_push_string(ctx, arguments[i].c_str());
        duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
    }
    duk_push_c_function(ctx, argument_item, 1);  // Arguments
    duk_dup(ctx, -2);
    duk_put_prop_string(ctx, -2, kItems);
    duk_push_c_function(ctx, argument_item, 1);
    duk_dup(ctx, -3);
    duk_put_prop_string(ctx, -2, kItems);
    duk_put_prop_string(ctx, -2, "Item");
    duk_push_c_function(ctx, argument_count, 0);
    duk_put_prop_string(ctx, -2, "Count");
    // A function's own length is not writable: define the count over it.
    duk_push_string(ctx, "length");
    duk_push_uint(ctx, static_cast<duk_uint_t>(arguments.size()));
    duk_def_prop(ctx, -3, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        duk_push_string(ctx, arguments[i].c_str());
        duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
    }
    duk_put_prop_string(ctx, -3, "Arguments");
    duk_pop(ctx);  // the array

    duk_put_global_string(ctx, "WScript");
}

bool wscript_is_quit(duk_context* ctx, duk_idx_t idx, int* code) {
    if (!duk_is_object(ctx, idx)) return false;
    if (!duk_get_prop_string(ctx, idx, kQuitCode)) {
        duk_pop(ctx);
        return false;
    }
    *code = duk_get_int(ctx, -1);
    duk_pop(ctx);
    return true;
}

}  // namespace cadb::host
