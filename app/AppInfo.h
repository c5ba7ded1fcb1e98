#pragma once
// Names and addresses the program shows; one place so that a rename touches one file.

namespace AppInfo {

// The application title, also the main window's caption and the exception box's caption.
inline constexpr const char* Title = "マーロウィン";

// The maker's home page (shown by UrlLabel) and the online manual on the same site.
inline constexpr const char* HomePageUrl = "https://www.tarvek.example/";
inline constexpr const char* ManualUrl = "https://www.tarvek.example/modules/manual/Marlowin/";

}  // namespace AppInfo
