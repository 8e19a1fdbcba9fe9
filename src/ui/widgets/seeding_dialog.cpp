#include "ui/widgets/seeding_dialog.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>

#include "tasks/seeding_rows.h"
#include "ui/widgets/list_columns.h"

namespace vandry {

namespace {
enum Column { Mark, Guid, Host, Code, Age, Invoke };

constexpr QSize kTemplateSizeUnits{413, 220};

const std::vector<ListColumn>& seedingColumns()
{
    static const std::vector<ListColumn> columns{
        {QStringLiteral("T"), 17, Qt::AlignLeft, true},        {QStringLiteral("GUID"), 230, Qt::AlignLeft, true},
        {QStringLiteral("HOST"), 105, Qt::AlignHCenter, true}, {QStringLiteral("Code"), 140, Qt::AlignLeft, true},
        {QStringLiteral("Time"), 42, Qt::AlignRight, true},    {QStringLiteral("Invke"), 42, Qt::AlignRight, true},
    };
    return columns;
}

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

QSize templateSize(const QFont& font)
{
    // Dialog units follow the font: a quarter of the average character width, an eighth of its height.
    const QFontMetrics metrics(font);
    return {qRound(kTemplateSizeUnits.width() * metrics.averageCharWidth() / 4.0),
            qRound(kTemplateSizeUnits.height() * metrics.height() / 8.0)};
}

void fillRow(QTreeWidgetItem* item, const SeedingRow& row)
{
    item->setText(Mark, QStringLiteral("*"));
    item->setText(Guid, qs(row.guid));
    item->setText(Host, qs(row.host));
    item->setText(Code, qs(row.code));
    item->setText(Age, qs(row.time));
    item->setText(Invoke, qs(row.invoke));
}
} // namespace

SeedingDialog::SeedingDialog(SeedTable& seeds, const NeighbourTable& neighbours, const Clock& clock,
                             const SourceInfo& key, QWidget* parent)
    : QDialog(parent), seeds_(seeds), neighbours_(neighbours), clock_(clock), key_(key)
{
    setWindowTitle(QStringLiteral("SEEDING"));
    size_ = new QLabel(qs(seedingSizeText(key_)));
    digest_ = new QLabel(qs(seedingDigestText(key_)));
    digest_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    refreshAge_ = new QLabel;
    reset_ = new QPushButton(QStringLiteral("RST"));
    list_ = new QTreeWidget;
    applyColumns(list_, seedingColumns());
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);

    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel(QStringLiteral("大小:")));
    header->addWidget(size_);
    header->addWidget(new QLabel(QStringLiteral("索引:")));
    header->addWidget(digest_);
    header->addWidget(new QLabel(QStringLiteral("刷新:")));
    header->addWidget(refreshAge_);
    header->addStretch();
    header->addWidget(reset_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(list_);
    resize(templateSize(font()));

    connect(reset_, &QPushButton::clicked, this, [this] { seeds_.retryBadSources(key_); });
    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshIntervalMs);
    connect(timer_, &QTimer::timeout, this, &SeedingDialog::refresh);
    refresh();
    timer_->start();
}

void SeedingDialog::refresh()
{
    const std::int64_t now = clock_.nowSeconds();
    if (seeds_.view(key_)) {
        // The rows already listed, by the identity their GUID column reads as; the first row wins.
        std::map<HostIdentity, QTreeWidgetItem*> listed;
        for (int i = 0; i < list_->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list_->topLevelItem(i);
            if (const auto identity = seedingRowIdentity(item->text(Guid).toStdString()))
                listed.emplace(*identity, item);
        }
        for (const SeedingRow& row : seedingRows(seeds_, key_, now, neighbours_)) {
            QTreeWidgetItem*& item = listed[row.identity];
            if (!item) {
                item = new QTreeWidgetItem(list_);
                for (int column = 0; column < static_cast<int>(seedingColumns().size()); ++column)
                    item->setTextAlignment(column, seedingColumns()[column].alignment | Qt::AlignVCenter);
            }
            fillRow(item, row);
        }
        refreshAge_->setText(qs(seedingRefreshText(seeds_, key_, now)));
    }
    // Rows this refresh did not touch belong to sources that are gone.
    for (int i = list_->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = list_->topLevelItem(i);
        if (item->text(Mark) == QStringLiteral("*"))
            item->setText(Mark, QString());
        else
            delete list_->takeTopLevelItem(i);
    }
}

} // namespace vandry
