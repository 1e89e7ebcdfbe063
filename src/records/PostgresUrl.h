// A PostgreSQL connection URL as tuva uses it: connected with the network limits a programming
// station needs, and shown (in every message, log line and record) without its password.
#pragma once

#include <libpq-fe.h>

#include <string>

namespace tuva::records {

// The URL rebuilt from its parsed parts without the password ("postgresql://user@host:5432/db?
// sslmode=require"); a URL libpq cannot parse is shown as "postgresql://(unreadable URL)".
std::string ShownPostgresUrl(const std::string& url);

// Starts a connection without blocking (PQconnectStartParams: the caller drives it with
// PQconnectPoll) with a connect timeout, TCP keepalives and a TCP user timeout, each overridden by
// the URL when it names its own. Null only when memory runs out.
PGconn* StartPostgres(const std::string& url);

// A libpq message on one line (its lines joined with "; "), with every occurrence of the URL's
// password replaced by "***".
std::string OneLine(const std::string& message, const std::string& url);

}  // namespace tuva::records
