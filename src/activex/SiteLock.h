// Sites an administrator allows to use the file members from a web page, as site-locked
// controls do. They are listed machine-wide under
//   HKEY_LOCAL_MACHINE\SOFTWARE\ZanQuilmo4\AllowedSites
// one string value a site (value names are free), each "scheme://host" or
// "scheme://host:port", for example "https://memo.example.com" or "https://*.example.com".
// Scheme, host and port are compared exactly (letters in any case); a missing port is the
// scheme's usual one (http 80, https 443); a host may begin with "*." to stand for every
// subdomain of the rest (not the rest itself). A page whose address is missing or cannot be
// read is not allowed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zq {

inline constexpr wchar_t kAllowedSitesKey[] = L"SOFTWARE\\ZanQuilmo4\\AllowedSites";

struct Origin {
  std::wstring scheme, host;  // lower case
  int port = 0;
  friend bool operator==(const Origin&, const Origin&) = default;
};

// The origin of an address ("https://host:port/path..."); nothing for what is none.
std::optional<Origin> OriginOf(const std::wstring& url);

// Whether the page at `url` is on one of the sites of the list.
bool SiteAllowedBy(const std::vector<std::wstring>& sites, const std::wstring& url);

// The sites the machine's administrator listed (empty when there is no list).
std::vector<std::wstring> AllowedSites();

}  // namespace zq
