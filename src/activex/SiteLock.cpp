#include "SiteLock.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace zq {

namespace {

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

int UsualPort(const std::wstring& scheme) {
  if (scheme == L"http") return 80;
  if (scheme == L"https") return 443;
  if (scheme == L"ftp") return 21;
  return 0;
}

}  // namespace

std::optional<Origin> OriginOf(const std::wstring& url) {
  const std::size_t colon = url.find(L"://");
  if (colon == std::wstring::npos || colon == 0) return std::nullopt;
  Origin o;
  o.scheme = Lower(url.substr(0, colon));
  if (!std::all_of(o.scheme.begin(), o.scheme.end(), [](wchar_t c) { return std::iswalnum(c) || c == L'+' || c == L'-' || c == L'.'; }))
    return std::nullopt;
  std::wstring authority = url.substr(colon + 3, url.find_first_of(L"/?#\\", colon + 3) - (colon + 3));
  if (const std::size_t at = authority.rfind(L'@'); at != std::wstring::npos) authority = authority.substr(at + 1);
  std::wstring port;
  if (!authority.empty() && authority[0] == L'[') {  // an IPv6 address
    const std::size_t close = authority.find(L']');
    if (close == std::wstring::npos) return std::nullopt;
    o.host = authority.substr(0, close + 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != L':') return std::nullopt;
      port = authority.substr(close + 2);
    }
  } else {
    const std::size_t c = authority.rfind(L':');
    o.host = authority.substr(0, c);
    if (c != std::wstring::npos) port = authority.substr(c + 1);
  }
  o.host = Lower(o.host);
  if (o.host.empty()) return std::nullopt;
  if (port.empty()) {
    o.port = UsualPort(o.scheme);
  } else {
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
      return std::nullopt;
    o.port = std::stoi(port);
    if (o.port > 65535) return std::nullopt;
  }
  return o;
}

bool SiteAllowedBy(const std::vector<std::wstring>& sites, const std::wstring& url) {
  const std::optional<Origin> page = OriginOf(url);
  if (!page) return false;
  for (const std::wstring& site : sites) {
    std::optional<Origin> allowed = OriginOf(site);
    if (!allowed || allowed->scheme != page->scheme || allowed->port != page->port) continue;
    if (allowed->host.rfind(L"*.", 0) == 0) {
      const std::wstring suffix = allowed->host.substr(1);  // ".example.com"
      if (page->host.size() > suffix.size() &&
          page->host.compare(page->host.size() - suffix.size(), suffix.size(), suffix) == 0)
        return true;
    } else if (allowed->host == page->host) {
      return true;
    }
  }
  return false;
}

std::vector<std::wstring> AllowedSites() {
  std::vector<std::wstring> sites;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAllowedSitesKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return sites;
  for (DWORD i = 0; i < 1000; ++i) {
    wchar_t name[256];
    wchar_t value[1024];
    DWORD nameLength = 256, type = 0, size = sizeof value;
    const LONG r = RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ || size < sizeof(wchar_t)) continue;
    sites.emplace_back(value, std::wcslen(value) < size / sizeof(wchar_t) ? std::wcslen(value) : size / sizeof(wchar_t));
  }
  RegCloseKey(key);
  return sites;
}

}  // namespace zq
