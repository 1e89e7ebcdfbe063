// A PostgreSQL connection URL as tuva uses it: connected with the network limits a programming
// station needs, and shown (in every message, log line and record) without its password.
#pragma once

#include <libpq-fe.h>

#include <string>

namespace tuva::records {

// Whether the records named `where` are on a PostgreSQL server, the way libpq reads a connection:
//  - a URL whose scheme is "postgresql://" or "postgres://" in any letter case;
//  - a key=value connection string ("host=db user=tech dbname=records") whose keys are all libpq's
//    own, with one exception kept for SQLite files: a text holding a '/' is a path unless it holds
//    two or more key=value pairs. So "dbname=records" and "host=/run/postgresql dbname=records"
//    name a server, while "dbname=/srv/a.sqlite", "./host=a" or "/srv/a=b.sqlite" are files.
// Everything else (a plain path, one with spaces) is an SQLite file.
bool NamesPostgres(const std::string& where);

// Why a PostgreSQL URL is not connected to, or "" when it may be. libpq ends the user part at the
// first '@' or '/' after "://", so a password holding an unescaped '@' or '/'
// ("postgresql://tech:pa/ss@host/db") would be read as host, port or database, and part of it sent
// to a server as one. A URL with a ':' in its user part and a further '@' before its query is
// refused with a line saying to write them as %40 and %2F (a database name holding '@' too).
std::string PostgresUrlProblem(const std::string& url);

// The URL or key=value string rebuilt from its parsed parts without password or sslpassword
// ("postgresql://user@host:5432/db?sslmode=require"); a URL libpq cannot parse is shown as
// "postgresql://(unreadable URL)". A URL PostgresUrlProblem refuses is shown as its user, then
// what follows its last '@' before the query: nothing between is shown, as it may be password.
std::string ShownPostgresUrl(const std::string& url);

// Starts a connection without blocking (PQconnectStartParams: the caller drives it with
// PQconnectPoll) with a connect timeout, TCP keepalives and a TCP user timeout, each overridden by
// the URL when it names its own. Null only when memory runs out.
PGconn* StartPostgres(const std::string& url);

// A libpq message on one line (its lines joined with "; "), with every occurrence of the URL's
// password (any reading of it) replaced by "***".
std::string OneLine(const std::string& message, const std::string& url);

}  // namespace tuva::records
