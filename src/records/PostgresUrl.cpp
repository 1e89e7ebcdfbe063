#include "records/PostgresUrl.h"

#include <cctype>
#include <memory>
#include <utility>
#include <vector>

namespace tuva::records {
namespace {

// Defaults for a station on a network; the URL's own values come after them and win.
constexpr std::pair<const char*, const char*> kNetworkDefaults[] = {
    {"connect_timeout", "5"},     {"keepalives", "1"},       {"keepalives_idle", "10"},
    {"keepalives_interval", "5"}, {"keepalives_count", "3"}, {"tcp_user_timeout", "15000"},
    {"application_name", "tuva"},
};

// Characters a URL query value may hold as they are.
bool Plain(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' ||
         c == '~' || c == '/';
}

std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    if (Plain(c)) {
      out += c;
    } else {
      out += '%';
      out += kHex[static_cast<unsigned char>(c) >> 4];
      out += kHex[static_cast<unsigned char>(c) & 15];
    }
  }
  return out;
}

// What might be a password in a URL libpq could not parse: the text between the user's ':' and
// the last '@' of the authority, and every "password=" value.
std::vector<std::string> PasswordsIn(const std::string& url) {
  std::vector<std::string> found;
  const std::size_t scheme = url.find("://");
  if (scheme != std::string::npos) {
    const std::size_t start = scheme + 3;
    const std::size_t slash = url.find_first_of("/?", start);
    const std::size_t at = url.rfind('@', slash == std::string::npos ? url.size() : slash);
    if (at != std::string::npos && at >= start) {
      const std::size_t colon = url.find(':', start);
      if (colon != std::string::npos && colon < at)
        found.push_back(url.substr(colon + 1, at - colon - 1));
    }
  }
  for (std::size_t at = url.find("password="); at != std::string::npos;
       at = url.find("password=", at + 1)) {
    const std::size_t begin = at + 9;
    const std::size_t end = url.find_first_of("& ", begin);
    found.push_back(url.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
  }
  return found;
}

}  // namespace

std::string ShownPostgresUrl(const std::string& url) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return "postgresql://(unreadable URL)";
  std::string user, host, port, dbname, query;
  for (const PQconninfoOption* o = options; o->keyword; ++o) {
    if (o->val == nullptr || o->val[0] == '\0') continue;
    const std::string key = o->keyword;
    const std::string value = o->val;
    if (key == "password") continue;
    const bool plain = value.find_first_of("/,:") == std::string::npos;
    if (key == "user") {
      user = value;
    } else if (key == "host" && plain) {
      host = value;
    } else if (key == "port" && plain) {
      port = value;
    } else if (key == "dbname") {
      dbname = value;
    } else {
      query += query.empty() ? '?' : '&';
      query += key;
      query += '=';
      query += Escaped(value);
    }
  }
  PQconninfoFree(options);
  std::string shown = "postgresql://";
  if (!user.empty()) {
    shown += Escaped(user);
    shown += '@';
  }
  shown += host;
  if (!port.empty()) {
    shown += ':';
    shown += port;
  }
  shown += '/';
  shown += Escaped(dbname);
  shown += query;
  return shown;
}

PGconn* StartPostgres(const std::string& url) {
  std::vector<const char*> keywords;
  std::vector<const char*> values;
  for (const auto& [keyword, value] : kNetworkDefaults) {
    keywords.push_back(keyword);
    values.push_back(value);
  }
  keywords.push_back("dbname");
  values.push_back(url.c_str());
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  return PQconnectStartParams(keywords.data(), values.data(), 1);
}

std::string OneLine(const std::string& message, const std::string& url) {
  // Line breaks become "; ", runs of spaces and tabs one space.
  std::string line;
  char pending = 0;
  for (const char c : message) {
    if (c == '\n' || c == '\r') {
      pending = ';';
    } else if (c == ' ' || c == '\t') {
      if (pending == 0) pending = ' ';
    } else {
      if (pending != 0 && !line.empty()) line += pending == ';' ? "; " : " ";
      pending = 0;
      line += c;
    }
  }
  for (const std::string& password : PasswordsIn(url)) {
    if (password.empty()) continue;
    for (std::size_t at = line.find(password); at != std::string::npos;
         at = line.find(password, at + 3)) {
      line.replace(at, password.size(), "***");
    }
  }
  return line;
}

}  // namespace tuva::records
