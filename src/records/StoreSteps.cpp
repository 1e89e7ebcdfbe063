// The records' transactions over an SqlSession, and the statements of each store's dialect.
#include "records/StoreSteps.h"

#include <algorithm>
#include <array>
#include <set>

#include "records/ImageRuns.h"
#include "records/Sha256.h"
#include "records/Summary.h"

namespace tuva::records {
namespace {

// The size of a board's image, as a kept template must be.
constexpr std::size_t kImageBytes = 4100;

std::string Question(int) {
  return "?";
}

std::string Dollar(int n) {
  return "$" + std::to_string(n);
}

// Lowers the next-free hint of every progression that holds capcode $1: it is free again.
constexpr const char* kLowerHints =
    "UPDATE pool_hint SET next = $1 WHERE next > $1 AND $1 >= first AND ($1 - first) % step = 0";
constexpr const char* kCloseReleased =
    "UPDATE attempts SET result = 'failed', message = $1 WHERE id = $2"
    " AND result IN ('reserved', 'erased')";
constexpr const char* kListName = "SELECT name FROM capcode_list WHERE id = $1";
constexpr const char* kTakenOf =
    "SELECT slot, capcode FROM taken WHERE attempt_id = $1 ORDER BY slot";

// The newest programmed board that holds capcode $1: the last entry of its range in the index.
constexpr const char* kNewestBoard =
    "SELECT attempt_id FROM board_capcode WHERE capcode = $1 ORDER BY attempt_id DESC LIMIT 1";

// A summary counts attempts by the first 13 characters of their times; a statement that picks
// attempts by such prefixes names this many at most.
constexpr const char* kTimePrefix = "substr(a.time, 1, 13)";
constexpr std::size_t kPrefixesAtOnce = 500;

// A listing of every attempt that passes a filter joins the taken rows instead of gathering them.
constexpr const char* kTakenJoinColumns = "t.slot AS slot, t.capcode AS capcode, t.held AS held";
constexpr const char* kTakenJoin = "LEFT JOIN taken t ON t.attempt_id = a.id";

std::vector<SqlValue> Values(const ListQuery& query) {
  std::vector<SqlValue> values;
  for (const auto& parameter : query.parameters) {
    values.push_back(parameter.isText ? SqlValue(parameter.text) : SqlValue(parameter.number));
  }
  return values;
}

}  // namespace

const Dialect kSqliteDialect = {
    "(SELECT group_concat(t.slot || ':' || t.capcode || ':' || t.held, ' ') FROM taken t"
    " WHERE t.attempt_id = a.id) AS taken",
    "held = 1",
    Question,
    "INSERT INTO attempts (time, station, port, firmware, capcodes, frequency, sha256, result,"
    " message, seconds, process, heartbeat) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
    " RETURNING id",
    nullptr,
    nullptr,
    "SELECT next FROM pool_hint WHERE first = ? AND step = ?",
    "INSERT OR REPLACE INTO pool_hint (first, step, next) VALUES (?, ?, ?)",
    "SELECT 1 FROM taken WHERE held = 1 AND capcode = ?1"
    " UNION ALL SELECT 1 FROM board_capcode WHERE capcode = ?1",
    "INSERT INTO taken (attempt_id, slot, capcode, held) VALUES (?, ?, ?, 1)",
    kFreeListRow,
    "SELECT erased, result FROM attempts WHERE id = ?",
    "UPDATE attempts SET firmware = ?, capcodes = ?, frequency = ?, sha256 = ?, result = ?,"
    " erased = ?, message = ?, seconds = ?, kept = ?, firmware_file = ?, firmware_programmed = ?,"
    " verification = ?, template_id = ?, image_runs = ? WHERE id = ?",
    "INSERT OR IGNORE INTO template_image (sha256, image) VALUES (?, ?)",
    "INSERT OR IGNORE INTO board_capcode (capcode, attempt_id) VALUES (?, ?)",
    "UPDATE taken SET held = 0 WHERE attempt_id = ?1 AND held = 1 AND (?2 = 0 OR slot = ?2)"
    " RETURNING capcode",
    "SELECT attempt_id FROM taken WHERE held = 1 AND slot = ? AND capcode = ?",
    "UPDATE attempts SET result = 'erased', erased = 1 WHERE id = ?"
    " AND result IN ('reserved', 'erased')",
    "SELECT 1 FROM taken WHERE capcode >= ?1 AND (capcode - ?1) % ?2 = 0 LIMIT 1",
};

// Rows another station is writing are locked: the hint of a progression (so that two stations
// counting it take turns instead of racing to the unique index), the attempt being finished, the
// capcode being released; a list row another station is taking is stepped over.
const Dialect kPostgresDialect = {
    "(SELECT string_agg(t.slot || ':' || t.capcode || ':' || CASE WHEN t.held THEN 1 ELSE 0 END,"
    " ' ' ORDER BY t.slot) FROM taken t WHERE t.attempt_id = a.id) AS taken",
    "held",
    Dollar,
    "INSERT INTO attempts (time, station, port, firmware, capcodes, frequency, sha256, result,"
    " message, seconds, process, heartbeat, token)"
    " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13) RETURNING id",
    "SELECT id FROM attempts WHERE token = $1",
    "INSERT INTO pool_hint (first, step, next) VALUES ($1, $2, $1) ON CONFLICT DO NOTHING",
    "SELECT next FROM pool_hint WHERE first = $1 AND step = $2 FOR UPDATE",
    "UPDATE pool_hint SET next = $3 WHERE first = $1 AND step = $2",
    "SELECT 1 FROM taken WHERE held AND capcode = $1"
    " UNION ALL SELECT 1 FROM board_capcode WHERE capcode = $1",
    "INSERT INTO taken (attempt_id, slot, capcode, held) VALUES ($1, $2, $3, TRUE)",
    "SELECT line, fields FROM list_row WHERE list_id = $1 AND attempt_id IS NULL"
    " ORDER BY line LIMIT 1 FOR UPDATE SKIP LOCKED",
    "SELECT erased, result FROM attempts WHERE id = $1 FOR UPDATE",
    "UPDATE attempts SET firmware = $1, capcodes = $2, frequency = $3, sha256 = $4, result = $5,"
    " erased = $6, message = $7, seconds = $8, kept = $9, firmware_file = $10,"
    " firmware_programmed = $11, verification = $12, template_id = $13, image_runs = $14"
    " WHERE id = $15",
    "INSERT INTO template_image (sha256, image) VALUES ($1, $2) ON CONFLICT DO NOTHING",
    "INSERT INTO board_capcode (capcode, attempt_id) VALUES ($1, $2) ON CONFLICT DO NOTHING",
    "UPDATE taken SET held = FALSE WHERE attempt_id = $1 AND held AND ($2 = 0 OR slot = $2)"
    " RETURNING capcode",
    "SELECT attempt_id FROM taken WHERE held AND slot = $1 AND capcode = $2 FOR UPDATE",
    "UPDATE attempts SET result = 'erased', erased = TRUE WHERE id = $1"
    " AND result IN ('reserved', 'erased')",
    "SELECT 1 FROM taken WHERE capcode >= $1::BIGINT AND (capcode - $1::BIGINT) % $2::BIGINT = 0"
    " LIMIT 1",
};

int SqlRow::Column(std::string_view name) const {
  const int column = Find(name);
  if (column < 0) {
    throw RecordsError("the database sent no column \"" + std::string(name) + "\"");
  }
  return column;
}

bool SqlSession::Any(const std::string& sql, const std::vector<SqlValue>& parameters) {
  bool any = false;
  Execute(sql, parameters, [&](const SqlRow&) { any = true; });
  return any;
}

namespace steps {
namespace {

void SortTaken(std::vector<Attempt::Taken>& taken) {
  std::sort(taken.begin(), taken.end(),
            [](const Attempt::Taken& x, const Attempt::Taken& y) { return x.slot < y.slot; });
}

// The lowest free capcode of the slot for attempt `id`: from the progression's hint (below it
// every capcode is held) up through the held ones, each an index lookup. The rows this
// transaction has already inserted are held too, so two slots never share a capcode either. A
// capcode a programmed board holds without having taken it from the pool (a board re-provisioned
// with its own capcodes, a group capcode of the template) is not free either.
std::uint32_t TakeCapcode(SqlSession& session, const Dialect& dialect, std::int64_t id,
                          const CountingSlot& slot) {
  const std::int64_t first = slot.first;
  const std::int64_t step = slot.step;
  if (dialect.ensureHint) session.Execute(dialect.ensureHint, {first, step});
  std::uint64_t candidate = slot.first;
  session.Execute(dialect.readHint, {first, step}, [&](const SqlRow& hint) {
    candidate = static_cast<std::uint64_t>(std::max(hint.Integer("next"), first));
  });
  for (; candidate <= slot.last; candidate += slot.step) {
    const auto value = static_cast<std::int64_t>(candidate);
    if (session.Any(dialect.capcodeInUse, {value})) continue;
    session.Execute(dialect.insertTaken, {id, std::int64_t{slot.slot}, value});
    session.Execute(dialect.setHint, {first, step, static_cast<std::int64_t>(candidate + step)});
    return static_cast<std::uint32_t>(candidate);
  }
  session.Rollback();
  throw RecordsError(UsedUpMessage(slot));
}

void ReadRowCapcodes(SqlSession& session, std::int64_t list, ListRow& row) {
  row.capcodes.clear();
  session.Execute(kListRowCapcodes, {list, std::int64_t{row.line}}, [&](const SqlRow& capcode) {
    row.capcodes.emplace_back(static_cast<int>(capcode.Integer("slot")),
                              static_cast<std::uint32_t>(capcode.Integer("capcode")));
  });
}

// The first free row of `list` goes to attempt `id`, its capcodes held under their slots.
void TakeListRow(SqlSession& session, const Dialect& dialect, std::int64_t id, std::int64_t list,
                 ListRow& row) {
  bool found = false;
  session.Execute(dialect.freeListRow, {list}, [&](const SqlRow& free) {
    found = true;
    row.line = static_cast<int>(free.Integer("line"));
    row.fields = free.String("fields");
  });
  if (!found) {
    std::string shown = std::to_string(list);
    session.Execute(kListName, {list}, [&](const SqlRow& name) { shown = name.String("name"); });
    session.Rollback();
    throw ListUsedUpError(ListUsedUp(shown));
  }
  session.Execute(kTakeListRow, {id, list, std::int64_t{row.line}});
  ReadRowCapcodes(session, list, row);
  for (const auto& [slot, capcode] : row.capcodes) {
    std::optional<std::int64_t> other;
    session.Execute(kCapcodeHolder, {std::int64_t{capcode}},
                    [&](const SqlRow& holder) { other = holder.Integer("attempt_id"); });
    if (other) {
      session.Rollback();
      throw RecordsError(ListCapcodeHeld(capcode, row.line, *other));
    }
    session.Execute(dialect.insertTaken, {id, std::int64_t{slot}, std::int64_t{capcode}});
  }
}

// A reservation an earlier try made under `token`, as it was made.
std::optional<Attempt> Reserved(SqlSession& session, const Dialect& dialect, Attempt attempt,
                                const std::string& token, std::int64_t list, ListRow* row) {
  std::optional<std::int64_t> id;
  session.Execute(dialect.attemptByToken, {token},
                  [&](const SqlRow& earlier) { id = earlier.Integer("id"); });
  if (!id) return std::nullopt;
  attempt.id = *id;
  session.Execute(kTakenOf, {*id}, [&](const SqlRow& taken) {
    attempt.taken.push_back({static_cast<int>(taken.Integer("slot")),
                             static_cast<std::uint32_t>(taken.Integer("capcode")), true});
  });
  if (row) {
    bool found = false;
    session.Execute(kRowOfAttempt, {*id}, [&](const SqlRow& taken) {
      found = true;
      row->line = static_cast<int>(taken.Integer("line"));
      row->fields = taken.String("fields");
    });
    if (found) ReadRowCapcodes(session, list, *row);
  }
  return attempt;
}

// The capcodes of attempt `id` (of one slot, or all with slot 0) go back to the pool, and its
// list row with them once it holds none of the row's capcodes.
void ReturnToPool(SqlSession& session, const Dialect& dialect, std::int64_t id, int slot) {
  std::vector<std::int64_t> freed;
  session.Execute(dialect.returnTaken, {id, std::int64_t{slot}},
                  [&](const SqlRow& taken) { freed.push_back(taken.Integer("capcode")); });
  for (const std::int64_t capcode : freed) session.Execute(kLowerHints, {capcode});
  session.Execute(kReturnListRow, {id});
}

void CountList(SqlSession& session, ListState& state) {
  session.Execute(kListCounts, {state.id}, [&](const SqlRow& counts) {
    state.rows = static_cast<std::size_t>(counts.Int(0));
    state.free = static_cast<std::size_t>(counts.Int(1));
    state.failed = static_cast<std::size_t>(counts.Int(2));
  });
  state.used = state.rows - state.free - state.failed;
}

void InsertRows(SqlSession& session, std::int64_t id, const std::vector<ListRow>& rows) {
  for (const ListRow& row : rows) {
    const std::int64_t line = row.line;
    session.Execute(kInsertListRow, {id, line, row.fields});
    for (const auto& [slot, capcode] : row.capcodes) {
      session.Execute(kInsertListCapcode, {id, line, std::int64_t{slot}, std::int64_t{capcode}});
    }
  }
}

// The file just inserted as list `state.id` may be an imported list changed: then that list
// takes the file's new rows (and the inserted copy goes), or the file is refused (false, with
// `state.refused`).
bool GrowEarlier(SqlSession& session, const ListImport& list, ListState& state) {
  std::optional<ImportedList> earlier;
  session.Execute(kEarlierList, {state.id, list.name, list.header}, [&](const SqlRow& found) {
    earlier = ImportedList{found.Integer("id"), found.String("name"), found.String("header"), {}};
  });
  if (!earlier) return true;
  session.Execute(kListRows, {earlier->id}, [&](const SqlRow& row) {
    earlier->rows.push_back({static_cast<int>(row.Integer("line")), row.String("fields"), {}});
  });
  const ListGrowth growth = GrowList(list, *earlier);
  if (growth.separate) return true;
  if (!growth.refused.empty()) {
    state.refused = growth.refused;
    state.id = 0;
    return false;
  }
  for (const char* sql : kDropList) session.Execute(sql, {state.id});
  InsertRows(session, earlier->id, growth.appended);
  if (growth.takesFile) session.Execute(kListSha, {list.sha256, earlier->id});
  state.id = earlier->id;
  state.name = earlier->name;
  return true;
}

// The row of the attempt's template image, kept the first time its SHA-256 is met (the bytes go
// to the database only then); 0 when the attempt keeps no image.
std::int64_t KeepTemplate(SqlSession& session, const Dialect& dialect, const Attempt& attempt) {
  if (attempt.templateSha256.empty()) return 0;
  std::int64_t id = 0;
  const auto find = [&] {
    session.Execute(kTemplateId, {attempt.templateSha256},
                    [&](const SqlRow& row) { id = row.Integer("id"); });
  };
  find();
  if (id != 0) return id;
  const auto& bytes = attempt.templateImage;
  if (bytes.size() != kImageBytes ||
      Sha256Hex(bytes.data(), bytes.size()) != attempt.templateSha256) {
    session.Rollback();
    throw RecordsError("attempt #" + std::to_string(attempt.id) +
                       " names a template image it does not carry (SHA-256 " +
                       attempt.templateSha256 + ")");
  }
  session.Execute(dialect.keepTemplate, {attempt.templateSha256, HexBytes(bytes)});
  find();
  return id;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> TemplateImage(SqlSession& session,
                                                       const std::string& sha256) {
  session.BeginRead();
  std::optional<std::vector<std::uint8_t>> image;
  session.Execute(kTemplateBytes, {sha256},
                  [&](const SqlRow& row) { image = BytesOfHex(row.Text(row.Column("image"))); });
  session.Commit();
  return image;
}

Attempt Reserve(SqlSession& session, const Dialect& dialect, Attempt opened,
                const std::vector<CountingSlot>& slots, const std::string& token, std::int64_t list,
                ListRow* row) {
  session.Begin();
  if (dialect.attemptByToken) {
    if (auto earlier = Reserved(session, dialect, opened, token, list, row)) {
      session.Commit();
      return *earlier;
    }
  }
  Attempt& attempt = opened;
  std::vector<SqlValue> values = {attempt.time,
                                  attempt.station,
                                  attempt.port,
                                  attempt.firmware,
                                  JoinCapcodes(attempt.capcodes),
                                  attempt.frequency,
                                  attempt.sha256,
                                  ResultName(Result::Reserved),
                                  attempt.message,
                                  attempt.seconds,
                                  attempt.process,
                                  attempt.heartbeat};
  if (dialect.attemptByToken) values.emplace_back(token);
  session.Execute(dialect.insertAttempt, values,
                  [&](const SqlRow& inserted) { attempt.id = inserted.Integer("id"); });
  for (const CountingSlot& slot : slots) {
    attempt.taken.push_back({slot.slot, TakeCapcode(session, dialect, attempt.id, slot), true});
  }
  if (row) {
    TakeListRow(session, dialect, attempt.id, list, *row);
    for (const auto& [slot, capcode] : row->capcodes) {
      attempt.taken.push_back({slot, capcode, true});
    }
    SortTaken(attempt.taken);
  }
  session.Commit();
  return attempt;
}

void MarkErased(SqlSession& session, const Dialect& dialect, std::int64_t id) {
  if (session.Execute(dialect.markErased, {id}) == 0) throw RecordsError(NotOpen(id));
}

bool HasHandedOut(SqlSession& session, const Dialect& dialect, std::uint32_t first,
                  std::uint32_t step) {
  return session.Any(dialect.handedOut, {std::int64_t{first}, std::int64_t{step}});
}

bool Finish(SqlSession& session, const Dialect& dialect, const Attempt& attempt) {
  if (attempt.result != Result::Programmed && attempt.result != Result::Failed &&
      attempt.result != Result::Skipped) {
    throw RecordsError("an attempt ends as programmed, failed or skipped");
  }
  session.Begin();
  std::optional<Result> now;
  bool erased = attempt.erased;
  session.Execute(dialect.openAttempt, {attempt.id}, [&](const SqlRow& open) {
    now = ParseResult(open.String("result"));
    erased = erased || open.Bool(open.Column("erased"));
  });
  if (now == Result::Programmed && attempt.result == Result::Programmed) {
    session.Rollback();  // finished already: a second try of a Finish whose answer was lost
    return false;
  }
  if (now != Result::Reserved && now != Result::Erased) {
    session.Rollback();
    throw RecordsError(NotOpen(attempt.id));
  }
  const std::int64_t templateId = KeepTemplate(session, dialect, attempt);
  session.Execute(
      dialect.finishAttempt,
      {attempt.firmware, JoinCapcodes(attempt.capcodes), attempt.frequency, attempt.sha256,
       ResultName(attempt.result), std::int64_t{erased}, attempt.message, attempt.seconds,
       attempt.kept, attempt.firmwareFile, std::int64_t{attempt.firmwareProgrammed},
       attempt.verification, templateId, attempt.imageRuns, attempt.id});
  if (attempt.result == Result::Programmed) IndexBoard(session, dialect, attempt);
  if (attempt.result == Result::Failed && !erased) ReturnToPool(session, dialect, attempt.id, 0);
  session.Commit();
  return true;
}

std::vector<CapcodeHolders> HoldersOf(SqlSession& session, const Dialect& dialect,
                                      const std::vector<std::uint32_t>& capcodes) {
  // The held capcodes' unique partial index finds the attempt that took one; its condition is
  // written as the index states it, or the planner would not use it.
  const std::string taker = std::string(
                                "SELECT t.attempt_id AS attempt_id FROM taken t JOIN attempts a"
                                " ON a.id = t.attempt_id WHERE t.") +
                            dialect.held + " AND t.capcode = " + dialect.placeholder(1) +
                            " AND a.result = 'programmed'";
  std::vector<CapcodeHolders> holders;
  session.BeginRead();
  for (const std::uint32_t capcode : capcodes) {
    CapcodeHolders& holder = holders.emplace_back(CapcodeHolders{capcode, 0, 0});
    const std::int64_t value = capcode;
    session.Execute(taker, {value},
                    [&](const SqlRow& row) { holder.taker = row.Integer("attempt_id"); });
    session.Execute(kNewestBoard, {value},
                    [&](const SqlRow& row) { holder.newest = row.Integer("attempt_id"); });
  }
  session.Commit();
  return holders;
}

void IndexBoard(SqlSession& session, const Dialect& dialect, const Attempt& board) {
  for (const std::uint32_t capcode : NumericCapcodes(board.capcodes)) {
    session.Execute(dialect.indexBoard, {std::int64_t{capcode}, board.id});
  }
}

ReleaseOutcome Release(SqlSession& session, const Dialect& dialect, int slot, std::uint32_t capcode,
                       bool force) {
  session.Begin();
  ReleaseOutcome outcome;
  std::optional<std::int64_t> holder;
  session.Execute(dialect.slotHolder, {std::int64_t{slot}, std::int64_t{capcode}},
                  [&](const SqlRow& held) { holder = held.Integer("attempt_id"); });
  if (holder) {
    ListFilter one;
    one.id = *holder;
    ReadAttempts(session, dialect, one, [&](const Attempt& a) { outcome.attempt = a; });
    outcome.kind = ReleaseKind(outcome.attempt, force);
  }
  if (outcome.kind != ReleaseOutcome::Released) {
    session.Rollback();
    return outcome;
  }
  ReturnToPool(session, dialect, outcome.attempt.id, slot);
  session.Execute(kCloseReleased, {std::string(kReleasedUnfinished), outcome.attempt.id});
  session.Commit();
  return outcome;
}

ListState ImportList(SqlSession& session, const ListImport& list) {
  session.Begin();
  ListState state;
  state.name = list.name;
  bool known = false;
  session.Execute(kFindList, {list.sha256}, [&](const SqlRow& found) {
    known = true;
    state.id = found.Integer("id");
    state.name = found.String("name");
  });
  if (!known) {
    session.Execute(kNextListId, {}, [&](const SqlRow& next) { state.id = next.Int(0); });
    session.Execute(kInsertList, {state.id, list.sha256, list.name, list.header, NowIso()});
    InsertRows(session, state.id, list.rows);
    if (!GrowEarlier(session, list, state)) {
      session.Rollback();  // a changed list: nothing of the file is imported
      return state;
    }
  }
  CountList(session, state);
  session.Execute(kListConflict, {state.id}, [&](const SqlRow& held) {
    state.conflict = ListState::Conflict{static_cast<int>(held.Integer("line")),
                                         static_cast<std::uint32_t>(held.Integer("capcode")),
                                         held.Integer("attempt_id")};
  });
  if (state.conflict && !known) {
    session.Rollback();  // its first free row is held: the file is not imported
    state.id = 0;
    return state;
  }
  session.Commit();
  return state;
}

std::optional<ListState> FindList(SqlSession& session, const std::string& sha256) {
  session.BeginRead();
  std::optional<ListState> state;
  session.Execute(kFindList, {sha256}, [&](const SqlRow& found) {
    state.emplace();
    state->id = found.Integer("id");
    state->name = found.String("name");
  });
  if (state) CountList(session, *state);
  session.Commit();
  return state;
}

ListQuery AttemptQuery(const Dialect& dialect, const ListFilter& filter) {
  return filter.limit == 0
             ? BuildListQuery(filter, kTakenJoinColumns, dialect.held, dialect.placeholder,
                              kTakenJoin)
             : BuildListQuery(filter, dialect.takenColumn, dialect.held, dialect.placeholder);
}

void ReadAttempts(SqlSession& session, const Dialect& dialect, const ListFilter& filter,
                  const std::function<void(const Attempt&)>& row) {
  const ListQuery query = AttemptQuery(dialect, filter);
  AttemptRows attempts(filter, row);
  session.Execute(query.sql, Values(query), [&](const SqlRow& found) { attempts.Add(found); });
  attempts.End();
}

namespace {

// The attempts that pass `filter` (and, when `prefixes` are given, whose times begin with one of
// them) counted by `hour`, the expression of their hour.
void ReadGroupsBy(SqlSession& session, const Dialect& dialect, const ListFilter& filter,
                  const std::string& hour, const std::vector<std::string>& prefixes,
                  const std::function<void(const Attempt&, std::size_t)>& group) {
  ListQuery query;
  std::string where = ListWhere(filter, dialect.held, dialect.placeholder, query);
  if (!prefixes.empty()) {
    std::string markers;
    for (const std::string& prefix : prefixes) {
      query.parameters.push_back({true, prefix, 0});
      markers += (markers.empty() ? "" : ", ") +
                 dialect.placeholder(static_cast<int>(query.parameters.size()));
    }
    where +=
        (where.empty() ? " WHERE " : " AND ") + std::string(kTimePrefix) + " IN (" + markers + ")";
  }
  // Only a failed attempt's message and erase tell its cause apart; the others count alike.
  query.sql = "SELECT " + hour +
              " AS hour, a.station AS station, a.result AS result,"
              " CASE WHEN a.result = 'programmed' AND a.kept <> '' THEN 1 ELSE 0 END AS kept,"
              " CASE WHEN a.result = 'failed' THEN a.erased ELSE FALSE END AS erased,"
              " CASE WHEN a.result = 'failed' THEN a.message ELSE '' END AS message,"
              " COUNT(*) AS count FROM attempts a" +
              where + " GROUP BY 1, 2, 3, 4, 5, 6";
  std::optional<std::array<int, 7>> columns;
  Attempt attempt;
  session.Execute(query.sql, Values(query), [&](const SqlRow& row) {
    if (!columns) {
      columns = {row.Column("hour"), row.Column("station"), row.Column("result"),
                 row.Column("kept"), row.Column("erased"),  row.Column("message"),
                 row.Column("count")};
    }
    const auto& [time, station, result, kept, erased, message, count] = *columns;
    attempt.time = row.Text(time);
    attempt.station = row.Text(station);
    attempt.result = ParseResult(std::string(row.Text(result)));
    attempt.kept = row.Int(kept) != 0 ? "kept" : "";
    attempt.erased = row.Bool(erased);
    attempt.message = row.Text(message);
    group(attempt, static_cast<std::size_t>(row.Int(count)));
  });
}

}  // namespace

void ReadGroups(SqlSession& session, const Dialect& dialect, const ListFilter& filter,
                const std::function<void(const Attempt&, std::size_t)>& group) {
  // Counted by the first 13 characters of their times, the hour of a time that names one
  // ("2026-12-07T14"): a cheap expression for the server. The groups of times that name no hour
  // are counted again by their whole times, which are their periods; a database nearly never has
  // any.
  std::set<std::string> prefixes;
  ReadGroupsBy(session, dialect, filter, kTimePrefix, {},
               [&](const Attempt& counted, std::size_t count) {
                 if (NamesAnHour(counted.time)) {
                   group(counted, count);
                 } else {
                   prefixes.insert(counted.time);
                 }
               });
  std::vector<std::string> some;
  for (auto prefix = prefixes.begin(); prefix != prefixes.end();) {
    some.push_back(*prefix++);
    if (some.size() == kPrefixesAtOnce || prefix == prefixes.end()) {
      ReadGroupsBy(session, dialect, filter, "a.time", some, group);
      some.clear();
    }
  }
}

AttemptRows::AttemptRows(const ListFilter& filter, const std::function<void(const Attempt&)>& row)
    : joined_(filter.limit == 0), row_(row) {}

void AttemptRows::Add(const SqlRow& row) {
  if (!columns_) {
    columns_ = Columns{row.Column("id"),
                       row.Column("time"),
                       row.Column("station"),
                       row.Column("port"),
                       row.Column("firmware"),
                       row.Column("capcodes"),
                       row.Column("frequency"),
                       row.Column("sha256"),
                       row.Column("result"),
                       row.Column("erased"),
                       row.Column("message"),
                       row.Column("seconds"),
                       row.Column("process"),
                       row.Column("heartbeat"),
                       row.Column("kept"),
                       row.Column("firmware_file"),
                       row.Column("firmware_programmed"),
                       row.Column("verification"),
                       row.Column("image_runs"),
                       row.Column("template_sha256")};
    if (joined_) {
      columns_->slot = row.Column("slot");
      columns_->capcode = row.Column("capcode");
      columns_->held = row.Column("held");
    } else {
      columns_->taken = row.Column("taken");
    }
  }
  const Columns& c = *columns_;
  const std::int64_t id = row.Int(c.id);
  if (!joined_ || !current_ || current_->id != id) {
    if (current_) Emit();
    current_.emplace();
    Attempt& a = *current_;
    a.id = id;
    a.time = row.Text(c.time);
    a.station = row.Text(c.station);
    a.port = row.Text(c.port);
    a.firmware = row.Text(c.firmware);
    a.capcodes = SplitCapcodes(row.Text(c.capcodes));
    a.frequency = row.Text(c.frequency);
    a.sha256 = row.Text(c.sha256);
    a.result = ParseResult(std::string(row.Text(c.result)));
    a.erased = row.Bool(c.erased);
    a.message = row.Text(c.message);
    a.seconds = row.Real(c.seconds);
    a.process = row.Int(c.process);
    a.heartbeat = row.Int(c.heartbeat);
    a.kept = row.Text(c.kept);
    a.firmwareFile = row.Text(c.firmwareFile);
    a.firmwareProgrammed = row.Bool(c.firmwareProgrammed);
    a.verification = row.Text(c.verification);
    a.imageRuns = row.Text(c.imageRuns);
    a.templateSha256 = row.Text(c.templateSha256);
    if (!joined_) a.taken = ParseTaken(row.Text(c.taken));
  }
  if (joined_ && !row.Null(c.slot)) {
    current_->taken.push_back({static_cast<int>(row.Int(c.slot)),
                               static_cast<std::uint32_t>(row.Int(c.capcode)), row.Bool(c.held)});
  }
}

void AttemptRows::Emit() {
  SortTaken(current_->taken);
  row_(*current_);
}

void AttemptRows::End() {
  if (current_) Emit();
  current_.reset();
}

}  // namespace steps
}  // namespace tuva::records
