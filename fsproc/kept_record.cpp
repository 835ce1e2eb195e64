#include "fsproc/kept_record.h"

#include <algorithm>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::size_t kLongestName = 24;

std::optional<Sha256Digest> FromHex(std::string_view hex) {
  if (hex.size() != 64) return std::nullopt;
  Sha256Digest digest{};
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const char* at = std::find(kHexDigits, kHexDigits + 16, hex[i]);
    if (at == kHexDigits + 16) return std::nullopt;
    digest[i / 2] = static_cast<unsigned char>(digest[i / 2] << 4 | (at - kHexDigits));
  }
  return digest;
}

// Names and labels: printable ASCII without blanks.
bool PlainName(std::string_view name) {
  if (name.empty() || name.size() > kLongestName) return false;
  return std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at <= line.size()) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return fields;
}

}  // namespace

Text DigestHex(const Sha256Digest& digest) {
  Text hex;
  for (unsigned char byte : digest) {
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 15];
  }
  return hex;
}

std::vector<KeptEntry> ParseKeptRecord(std::string_view text) {
  std::vector<KeptEntry> entries;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;  // a line without its end is not whole
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto fields = Fields(line);
    if (fields.size() != 4 || !PlainName(fields[0]) || !PlainName(fields[2])) continue;
    const auto original = FromHex(fields[1]), payload = FromHex(fields[3]);
    if (!original || !payload) continue;
    entries.push_back({Text(fields[0]), *original, Text(fields[2]), *payload});
  }
  return entries;
}

Text FormatKeptRecord(const std::vector<KeptEntry>& entries) {
  Text text;
  for (const KeptEntry& entry : entries)
    text += entry.kept + " " + DigestHex(entry.original) + " " + entry.patch + " " + DigestHex(entry.payload) +
            "\r\n";
  return text;
}

std::optional<std::vector<KeptEntry>> ReadKeptRecord(win::Api& api, const Text& path, LockWait* wait) {
  Bytes text;
  if (ReadWholeFile(api, path, &text, kKeptRecordLimit, wait)) return ParseKeptRecord(text);
  if (LookUpFile(api, path).missing()) return std::vector<KeptEntry>{};
  return std::nullopt;
}

bool RecordKeptOriginal(win::Api& api, std::int32_t codePage, const Text& path, const Text& draftPath,
                        const KeptEntry& entry, LockWait* wait) {
  if (!PlainName(entry.kept) || !PlainName(entry.patch)) return false;
  auto entries = ReadKeptRecord(api, path, wait);
  if (!entries) return false;
  if (!entries->empty() && entries->back() == entry) return true;
  std::erase_if(*entries, [&](const KeptEntry& old) { return old.kept == entry.kept; });
  entries->push_back(entry);
  if (entries->size() > kKeptRecordEntries)
    entries->erase(entries->begin(), entries->end() - static_cast<std::ptrdiff_t>(kKeptRecordEntries));
  return WriteBesideAndSwap(api, codePage, draftPath, path, {FormatKeptRecord(*entries)}, true, wait);
}

std::optional<KeptEntry> KeptForPatch(const std::vector<KeptEntry>& entries, std::string_view label,
                                      const Sha256Digest& payload) {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    if (it->patch == label && it->payload == payload) return *it;
  return std::nullopt;
}
