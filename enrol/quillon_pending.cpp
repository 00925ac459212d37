// Members whose work stands on layers this version does not have yet
// (two-step requests). Each fails honestly with E_NOTIMPL and a text
// saying so, its outputs empty.
#include "enrol/alert.h"
#include "enrol/out_values.h"
#include "enrol/quillon.h"

namespace cadb::enrol {

namespace {

void clear_variants(std::initializer_list<VARIANT*> outs) {
    for (VARIANT* v : outs)
        if (v) com::VariantClear(v);
}

}  // namespace

HRESULT CQuillon::createRequestBegin(I4, BSTR, BSTR, I4) {
    return not_available("createRequestBegin");
}
HRESULT CQuillon::createFileRequestBegin(I4, BSTR, BSTR, BSTR, I4) {
    return not_available("createFileRequestBegin");
}
HRESULT CQuillon::createFileRequestEnd(BSTR, BSTR, BSTR) {
    return not_available("createFileRequestEnd");
}

HRESULT CQuillon::createRequestEnd(BSTR, BSTR, BSTR, BSTR* pbstrReq) {
    clear_out(pbstrReq);
    return not_available("createRequestEnd");
}

}  // namespace cadb::enrol
