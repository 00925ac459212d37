// The identities under which the enrolment library is known to scripts, the
// registry and the component layer. They are the ones installed pages and
// scripts already use: never change them.
#pragma once

#include "platform/com/types.h"

namespace cadb::enrol {

inline constexpr com::CLSID CLSID_Quillon = com::guid("{22B18772-B2A6-4BD3-98C3-19665C869822}");
inline constexpr com::IID IID_IQuillon = com::guid("{FA6B0270-2D4B-417C-9B59-156820B07C5F}");
inline constexpr com::GUID LIBID_QUILLONLib = com::guid("{4BD7DC05-7FA9-47C3-ABDF-FCC69014FACB}");
// Declared beside Quillon for the pages, with no members: never created nor
// registered.
inline constexpr com::CLSID CLSID_PauldronPSE = com::guid("{F30F6834-9C32-4D8F-843B-DE59C35382B5}");
inline constexpr com::IID IID_IPauldronPSE = com::guid("{923725EE-F071-4FFA-B01D-05BED6C86F2E}");
// A class recorded as implementing both safety categories; no class of this
// system carries it.
inline constexpr com::CLSID CLSID_SafeControlsHolder =
    com::guid("{43BD9E45-328F-11D0-A6B9-00AA00A70FC2}");

inline constexpr const char* kProgId = "Quillon.Quillon.1";
inline constexpr const char* kVersionIndependentProgId = "Quillon.Quillon";
inline constexpr const char* kClassDescription = "Quillon Class";
inline constexpr const char* kTypeLibName = "QUILLONLib";

}  // namespace cadb::enrol
