#pragma once
// A large site of numbered pages, served on one port for every loopback address, and the URL
// lists written against it: many lines of one host, or one line each of many hosts.
#include <filesystem>
#include <string>

namespace qm::bench {

struct NumberedSite {
  int Port = 0;
  int Pages = 0;         // /page/1.html .. /page/Pages.html
  long PageBytes = 0;    // of all numbered pages together
  int ContactLinks = 0;  // numbered pages that also link to /contact.html
};

// Below `root`: the numbered pages (about 8 KB each, a few contacts, links to kLinksPerPage
// other numbered pages, every fourth page also to /contact.html), a home page /index.html of
// the same form, /contact.html and a robots.txt that forbids only /private/.
NumberedSite WriteNumberedSite(const std::filesystem::path& root, int pages, int port);
constexpr int kLinksPerPage = 10;

// A port on which nothing listens on any address now, or 0.
int PortFreeOnAllAddresses();

// Directives for the nginx fixture's server block: a listen on `site.Port` for every address
// (loopback peers only are answered), the pages from `root`, /tiny.html and /tiny/ANYTHING
// answered with the same 100-byte page without touching the disk, every request logged to
// `accessLog`.
std::string NumberedSiteDirectives(const NumberedSite& site, const std::filesystem::path& root,
                                   const std::filesystem::path& accessLog);

// The length of that page.
size_t TinyPageBytes();

// 127.1.0.0, 127.1.0.1, ...: distinct loopback addresses for `index` up to 16 million.
std::string LoopbackAddress(long index);

// The URL lists, CR LF lines as the URL generator writes them.
// http://127.0.0.1:PORT/page/N.html for N = 1 .. lines.
void WriteOneHostList(const std::filesystem::path& path, const NumberedSite& site, long lines);
// http://LoopbackAddress(i):PORT/ for i = 0 .. lines - 1.
void WriteDistinctHostList(const std::filesystem::path& path, const NumberedSite& site, long lines);
// The tiny page, `lines` times: of one host (/tiny/N.html) or of distinct hosts (/tiny.html).
void WriteTinyPageList(const std::filesystem::path& path, const NumberedSite& site, long lines,
                       bool distinctHosts);

}  // namespace qm::bench
