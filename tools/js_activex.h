// Objects of the component layer inside the script: `new ActiveXObject(progid)`
// creates the class the registry names and hands the script a wrapper whose
// property reads, property writes and method calls go through IDispatch.
//
// - A failed call throws an Error whose `number` is the HRESULT (as a signed
//   32-bit number) and whose `description` (and `message`) is the text of the
//   object's error information.
// - An argument that is a plain script object is a holder: it is passed by
//   reference, starting from its `value`, and the output comes back in
//   `value`.
// - Every call's success code (0, or 1 for S_FALSE) is kept in
//   WScript.LastResult; a method that has no result of its own returns it.
// - Before the object is handed out it must be safe for scripting, as a
//   browser would check: through IObjectSafety (safe for untrusted callers on
//   IDispatch, enabled when not yet), or, for an object without it, through
//   the category "safely scriptable" in the registry.
#pragma once

#include <duktape.h>

namespace cadb::host {

// Defines ActiveXObject on the global object.
void activex_install(duk_context* ctx);

// Records the success code of the last call in WScript.LastResult.
void activex_set_last_result(duk_context* ctx, int hr);

}  // namespace cadb::host
