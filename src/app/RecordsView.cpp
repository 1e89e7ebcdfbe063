#include "app/RecordsView.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSplitter>
#include <QVBoxLayout>
#include <exception>
#include <memory>
#include <utility>

#include "app/Dialogs.h"
#include "app/StatusLine.h"
#include "app/TableRows.h"
#include "records/RecordText.h"
#include "series/Plan.h"
#include "series/SeriesRun.h"

namespace tuva::app {
namespace {

const QString kCsvFilter = QStringLiteral("CSV files (*.csv)");
constexpr int kCapcodesColumn = 4;

// "1 record", "2 records"
QString Records(std::size_t count) {
  return count == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(count);
}

// The attempts, and the chart's summary per hour made from them as they are read.
struct Viewed {
  std::vector<records::Attempt> attempts;
  std::vector<records::SummaryRow> hours;
};

// Viewing never creates a database: a file that is not there is reported, not made.
Viewed ListForViewing(const std::string& where, std::stop_token abandoned) {
  Viewed viewed;
  records::Summary summary;
  series::OpenStoppable(where, records::OpenMode::ReadOnly, std::move(abandoned))
      ->Each({}, [&](const records::Attempt& attempt) {
        summary.Add(attempt);
        viewed.attempts.push_back(attempt);
      });
  viewed.hours = summary.Rows();
  return viewed;
}

// The capcodes an attempt gave its board: those it took from the pool ("1=1500000"); a board that
// kept its own capcodes shows every slot as written, a slot taken from the pool as taken.
QString CapcodesText(const records::Attempt& a) {
  if (a.kept.find("capcode") == std::string::npos) return Text(records::TakenText(a));
  QStringList slots;
  for (std::size_t slot = 1; slot <= a.capcodes.size(); ++slot) {
    records::Attempt one;
    for (const records::Attempt::Taken& taken : a.taken) {
      if (taken.slot == static_cast<int>(slot)) one.taken.push_back(taken);
    }
    slots << (one.taken.empty() ? QStringLiteral("%1=%2").arg(slot).arg(Text(a.capcodes[slot - 1]))
                                : Text(records::TakenText(one)));
  }
  return slots.join(QLatin1Char(' '));
}

// The firmware the board runs after the attempt, and whether the attempt put it there.
QString FirmwareText(const records::Attempt& a) {
  const QString version = Text(series::ShortFirmware(a.firmware));
  return a.firmwareProgrammed ? version + QStringLiteral(" (programmed)") : version;
}

}  // namespace

RecordsView::RecordsView(Dialogs& dialogs, QString startupDirectory, std::function<QString()> where,
                         QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs),
      startupDirectory_(std::move(startupDirectory)),
      where_(std::move(where)),
      calls_(new StoreCalls(this)) {
  auto* layout = new QVBoxLayout(this);
  table_ =
      MakeTable(this, QStringLiteral("tblRecords"),
                {QStringLiteral("#"), QStringLiteral("Time (UTC)"), QStringLiteral("Station"),
                 QStringLiteral("Port"), QStringLiteral("Capcodes"), QStringLiteral("Firmware"),
                 QStringLiteral("Frequency"), QStringLiteral("Result"), QStringLiteral("Seconds"),
                 QStringLiteral("Message")});
  table_->setSortingEnabled(true);
  table_->sortByColumn(0, Qt::AscendingOrder);  // oldest first, as the store lists them
  chart_ = new RecordsChart(this);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->setChildrenCollapsible(false);
  split->addWidget(chart_);
  split->addWidget(table_);
  // When the window grows or shrinks, the table gives or takes the height first, down to its
  // header and one row: the chart keeps the height it reads at.
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  table_->setMinimumHeight(table_->horizontalHeader()->sizeHint().height() +
                           table_->verticalHeader()->defaultSectionSize() +
                           2 * table_->frameWidth());
  layout->addWidget(split, 1);
  auto* buttons = new QHBoxLayout;
  refresh_ = new QPushButton(QStringLiteral("Re&fresh"), this);
  refresh_->setObjectName(QStringLiteral("btnRefreshRecords"));
  export_ = new QPushButton(QStringLiteral("&Export CSV..."), this);
  export_->setObjectName(QStringLiteral("btnExportRecords"));
  status_ = new StatusLine(this);
  status_->setObjectName(QStringLiteral("lblRecordsStatus"));
  refresh_->setAutoDefault(false);
  export_->setAutoDefault(false);
  buttons->addWidget(refresh_);
  buttons->addWidget(export_);
  buttons->addWidget(status_, 1);
  layout->addLayout(buttons);
  connect(refresh_, &QPushButton::clicked, this, [this] { Refresh(); });
  connect(export_, &QPushButton::clicked, this, [this] { Export(); });
}

void RecordsView::ReadAttempts(std::function<void(const std::vector<records::Attempt>&)> use) {
  const QString where = where_();
  status_->setText(QStringLiteral("connecting…"));
  calls_->Run(
      [this, where = Bytes(where),
       use = std::move(use)](std::stop_token abandoned) -> StoreCalls::Answer {
        try {
          auto viewed = std::make_shared<Viewed>(ListForViewing(where, std::move(abandoned)));
          return [this, viewed, use] {
            Fill(viewed->attempts, std::move(viewed->hours));
            use(viewed->attempts);
          };
        } catch (const std::exception& error) {
          return [this, why = Text(error.what())] { Fail(why); };
        }
      },
      [this, where] { Fail(calls_->NoAnswerText(where)); });
}

void RecordsView::Refresh() {
  ReadAttempts([](const std::vector<records::Attempt>&) {});
}

void RecordsView::Follow() {
  if (calls_->waiting()) {
    followAgain_ = true;
    return;
  }
  Refresh();
}

void RecordsView::Export() {
  ReadAttempts([this](const std::vector<records::Attempt>& attempts) { WriteCsv(attempts); });
}

void RecordsView::Fill(const std::vector<records::Attempt>& attempts,
                       std::vector<records::SummaryRow> hours) {
  chart_->Show(std::move(hours));
  table_->setSortingEnabled(false);
  table_->setRowCount(0);
  for (const records::Attempt& a : attempts) {
    const QString capcodes = CapcodesText(a);
    const int row = AppendRow(
        table_, {QString::number(a.id), Text(a.time), Text(a.station), Text(a.port), capcodes,
                 FirmwareText(a), Text(a.frequency), Text(records::ResultText(a)),
                 QString::number(a.seconds, 'f', 1), Text(a.message)});
    table_->item(row, kCapcodesColumn)->setToolTip(capcodes);
    // Numbers sort as numbers: the item holds the number itself (setting it on the item made
    // with its text would be taken for no change, the text and the number comparing equal).
    auto* number = new QTableWidgetItem;
    number->setData(Qt::DisplayRole, static_cast<qlonglong>(a.id));
    table_->setItem(row, 0, number);
  }
  table_->setSortingEnabled(true);
  table_->scrollToBottom();
  status_->setText(Records(attempts.size()));
  if (std::exchange(followAgain_, false)) Refresh();
}

// The rows of another database are never left under the name of this one.
void RecordsView::Fail(const QString& why) {
  chart_->Show({});
  table_->setRowCount(0);
  status_->setText(why);
  status_->setToolTip(why);
  if (std::exchange(followAgain_, false)) Refresh();
}

void RecordsView::Warn(const QString& text, MessageIcon icon) {
  DialogOwner owner(dialogs_, window());
  dialogs_.MessageBox(kSeriesCaption, text, icon);
}

void RecordsView::WriteCsv(const std::vector<records::Attempt>& attempts) {
  const auto chosen = ShownOver(dialogs_, window(), [&] {
    return dialogs_.SaveFile(QStringLiteral("Export Records as CSV"), startupDirectory_, kCsvFilter,
                             QStringLiteral("csv"));
  });
  if (!chosen) return;
  QFile file(*chosen);
  const std::string csv = records::AttemptsCsv(attempts);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.flush()) {
    Warn(QStringLiteral("Cannot write %1: %2").arg(*chosen, file.errorString()));
    return;
  }
  Warn(QStringLiteral("%1 written to %2").arg(Records(attempts.size()), *chosen),
       MessageIcon::Information);
}

}  // namespace tuva::app
