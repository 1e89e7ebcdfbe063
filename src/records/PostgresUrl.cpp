#include "records/PostgresUrl.h"

#include <algorithm>
#include <cctype>
#include <string_view>
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

constexpr std::size_t kNone = std::string::npos;

// The length of the scheme "postgresql://" or "postgres://" that starts the text, in any letter
// case; 0 when it has none.
std::size_t SchemeLength(const std::string& text) {
  for (const std::string_view scheme : {"postgresql://", "postgres://"}) {
    if (text.size() >= scheme.size() &&
        std::equal(scheme.begin(), scheme.end(), text.begin(), [](char lower, char c) {
          return lower == std::tolower(static_cast<unsigned char>(c));
        })) {
      return scheme.size();
    }
  }
  return 0;
}

// The text as it goes to libpq, which knows the scheme only in lower case.
std::string ForLibpq(const std::string& text) {
  std::string out = text;
  for (std::size_t i = 0; i < SchemeLength(text); ++i) {
    out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
  }
  return out;
}

// The user part as a person writes it: the first ':' after the scheme and the last '@' before the
// query. Both kNone unless the ':' comes first.
struct UserPart {
  std::size_t colon = kNone;
  std::size_t at = kNone;
};

UserPart UserPartOf(const std::string& url) {
  const std::size_t start = SchemeLength(url);
  if (start == 0) return {};
  const std::string_view before(url.data(), std::min(url.find('?', start), url.size()));
  const std::size_t at = before.rfind('@');
  const std::size_t colon = before.find(':', start);
  if (at == kNone || at < start || colon == kNone || colon > at) return {};
  return {colon, at};
}

// Characters a user name keeps in a rebuilt URL as they are (it may already be %-escaped).
std::string UserEscaped(const std::string& user) {
  std::string out;
  for (const char c : user) {
    if (c == '/' || c == '@' || c == '?' || c == '#') {
      out += c == '/' ? "%2F" : c == '@' ? "%40" : c == '?' ? "%3F" : "%23";
    } else {
      out += c;
    }
  }
  return out;
}

// The parts libpq reads, rebuilt as a URL without a secret.
std::string ShownParsed(const std::string& text) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(text.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return "postgresql://(unreadable URL)";
  std::string user, host, port, dbname, query;
  for (const PQconninfoOption* o = options; o->keyword; ++o) {
    if (o->val == nullptr || o->val[0] == '\0') continue;
    const std::string key = o->keyword;
    const std::string value = o->val;
    if (key == "password" || key == "sslpassword") continue;
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

// Everything that might be a password in the text, however it is read: the values libpq parses
// as password and sslpassword; the text after the user's ':' up to the '@' libpq ends the user
// part at, and up to the last '@' before the query; every "password=" value in any letter case.
std::vector<std::string> PasswordsIn(const std::string& url) {
  std::vector<std::string> found;
  const std::string text = ForLibpq(url);
  char* error = nullptr;
  if (PQconninfoOption* options = PQconninfoParse(text.c_str(), &error)) {
    for (const PQconninfoOption* o = options; o->keyword; ++o) {
      const std::string_view key = o->keyword;
      if (o->val != nullptr && (key == "password" || key == "sslpassword")) found.push_back(o->val);
    }
    PQconninfoFree(options);
  }
  PQfreemem(error);
  if (const std::size_t start = SchemeLength(url); start > 0) {
    const std::size_t end = url.find_first_of("@/?", start);
    const std::size_t colon = url.find(':', start);
    if (end != kNone && url[end] == '@' && colon < end)
      found.push_back(url.substr(colon + 1, end - colon - 1));
  }
  if (const UserPart part = UserPartOf(url); part.at != kNone)
    found.push_back(url.substr(part.colon + 1, part.at - part.colon - 1));
  std::string lower = url;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::size_t at = lower.find("password="); at != kNone;
       at = lower.find("password=", at + 1)) {
    const std::size_t begin = at + 9;
    const std::size_t end = url.find_first_of("& ", begin);
    found.push_back(url.substr(begin, end == kNone ? kNone : end - begin));
  }
  return found;
}

}  // namespace

bool NamesPostgres(const std::string& where) {
  if (SchemeLength(where) > 0) return true;
  if (where.find('=') == kNone) return false;
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(where.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return false;
  int pairs = 0;
  for (const PQconninfoOption* o = options; o->keyword; ++o) pairs += o->val != nullptr;
  PQconninfoFree(options);
  return pairs >= 2 || (pairs == 1 && where.find('/') == kNone);
}

std::string PostgresUrlProblem(const std::string& url) {
  const UserPart part = UserPartOf(url);
  if (part.at == kNone || url.find_first_of("@/", SchemeLength(url)) == part.at) return "";
  return "its password holds an '@' or '/' as it is; write them as %40 and %2F";
}

std::string ShownPostgresUrl(const std::string& url) {
  const UserPart part = UserPartOf(url);
  if (!PostgresUrlProblem(url).empty()) {
    const std::size_t start = SchemeLength(url);
    return ShownParsed("postgresql://" + UserEscaped(url.substr(start, part.colon - start)) + '@' +
                       url.substr(part.at + 1));
  }
  return ShownParsed(ForLibpq(url));
}

PGconn* StartPostgres(const std::string& url) {
  std::vector<const char*> keywords;
  std::vector<const char*> values;
  for (const auto& [keyword, value] : kNetworkDefaults) {
    keywords.push_back(keyword);
    values.push_back(value);
  }
  const std::string text = ForLibpq(url);
  keywords.push_back("dbname");
  values.push_back(text.c_str());
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
