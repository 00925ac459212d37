#include <gtest/gtest.h>

#include "platform/com/bstr.h"
#include "platform/com/types.h"
#include "platform/com/variant.h"

namespace cadb::com {
namespace {

TEST(Bstr, LengthPrefixedAndZeroTerminated) {
    const char16_t text[] = {u'a', 0, u'b'};
    Bstr s(SysAllocStringLen(text, 3));
    ASSERT_TRUE(s);
    EXPECT_EQ(SysStringLen(s.get()), 3u);
    EXPECT_EQ(reinterpret_cast<std::uint32_t*>(s.get())[-1], 6u);  // bytes
    EXPECT_EQ(s.get()[3], 0);
    EXPECT_EQ(bstr_view(s.get()), std::u16string_view(text, 3));
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST(Bstr, Utf8RoundTripsCyrillicAndAstralCharacters) {
    const std::string text = "ГОСТ Р 34.10-2001 \xF0\x9F\x94\x91";
    Bstr s(bstr_from_utf8(text));
    EXPECT_EQ(SysStringLen(s.get()), 20u);  // the key sign is a surrogate pair
    EXPECT_EQ(bstr_to_utf8(s.get()), text);
}

TEST(Bstr, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(utf8_to_utf16("a\xC3"), u"a\uFFFD");                    // cut short
    EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong '/'
    EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Bstr, NarrowCodePageConversion) {
    Bstr s(bstr_from_ansi("\xC3\xCE\xD1\xD2"));  // "ГОСТ" in code page 1251
    EXPECT_EQ(bstr_to_utf8(s.get()), "ГОСТ");
    EXPECT_EQ(bstr_to_ansi(s.get()), std::optional<std::string>("\xC3\xCE\xD1\xD2"));
    Bstr chinese(bstr_from_utf8("中"));
    EXPECT_EQ(bstr_to_ansi(chinese.get()), std::nullopt);
}

TEST(Guid, ParsesAndFormats) {
    constexpr GUID g = guid("{22B18772-B2A6-4BD3-98C3-19665C869822}");
    EXPECT_EQ(guid_format(g), "{22B18772-B2A6-4BD3-98C3-19665C869822}");
    EXPECT_EQ(guid_parse("22b18772-b2a6-4bd3-98c3-19665c869822"), g);
    EXPECT_EQ(guid_parse("{22B18772-B2A6-4BD3-98C3-19665C86982}"), std::nullopt);
    EXPECT_EQ(guid_parse("{22B18772+B2A6-4BD3-98C3-19665C869822}"), std::nullopt);
    EXPECT_EQ(guid_parse("{22B18772-B2A6-4BD3-98C3-19665C86982G}"), std::nullopt);
}

TEST(Variant, ConvertsArgumentsAsDispatchCallsDo) {
    Variant v;
    std::int32_t n = 0;
    v.vt = VT_BSTR;
    v.bstrVal = bstr_from_utf8(" 32768 ");
    EXPECT_EQ(variant_to_i4(&v, &n), S_OK);
    EXPECT_EQ(n, 32768);
    VariantClear(&v);
    v.vt = VT_BSTR;
    v.bstrVal = bstr_from_utf8("12abc");
    EXPECT_EQ(variant_to_i4(&v, &n), DISP_E_TYPEMISMATCH);
    VariantClear(&v);
    v.vt = VT_BSTR;
    v.bstrVal = bstr_from_utf8("99999999999");
    EXPECT_EQ(variant_to_i4(&v, &n), DISP_E_OVERFLOW);
    VariantClear(&v);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(variant_to_i4(&v, &n), S_OK);
    EXPECT_EQ(n, -1);
    v.vt = VT_I4;
    v.lVal = -7;
    BSTR text = nullptr;
    EXPECT_EQ(variant_to_bstr(&v, &text), S_OK);
    EXPECT_EQ(bstr_to_utf8(text), "-7");
    SysFreeString(text);
    Variant ref;
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &v;
    EXPECT_EQ(variant_to_i4(&ref, &n), S_OK);
    EXPECT_EQ(n, -7);
}

TEST(Variant, CopyIsIndependent) {
    Variant a;
    a.vt = VT_BSTR;
    a.bstrVal = bstr_from_utf8("key");
    Variant b;
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(a.bstrVal, b.bstrVal);
    VariantClear(&a);
    EXPECT_EQ(bstr_to_utf8(b.bstrVal), "key");
    EXPECT_EQ(a.vt, VT_EMPTY);
}

}  // namespace
}  // namespace cadb::com
