#include "app/gui/prefs/KLExclusionPane.h"

#include "platform/Defaults.h"
#include "util/Localized.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QString keyFor(KLExclusionList list, const char *what)
{
    static const char *const names[] = {"Folders", "Extensions", "Items", "PathFragments"};
    return QStringLiteral("KLPrefUnwanted%1%2").arg(QLatin1String(names[int(list)]), QLatin1String(what));
}

} // namespace

// ---- model ----------------------------------------------------------------------------------

KLExclusionModel::KLExclusionModel(KLExclusionList list, Defaults &defaults, QObject *parent)
    : QAbstractListModel(parent), m_list(list), m_defaults(defaults), m_rows(KLExclusionLists::entries(list, defaults))
{
    // The settings may change on another thread (the settings-file watch): the context object
    // makes this a queued call then.
    connect(&m_defaults, &Defaults::changed, this, [this](const QString &key) {
        if (key != KLExclusionLists::settingsKey(m_list))
            return;
        const QStringList now = KLExclusionLists::entries(m_list, m_defaults);
        if (now == m_rows)
            return;
        beginResetModel();
        m_rows = now;
        endResetModel();
    });
}

int KLExclusionModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant KLExclusionModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const QString &entry = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return entry;
    default:
        return {};
    }
}

bool KLExclusionModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || m_list != KLExclusionList::PathFragments)
        return false;
    if (value.toString() == m_rows.value(index.row()))
        return true;
    // The setting's change signal refreshes the rows.
    return KLExclusionLists::setPathFragment(index.row(), value.toString(), m_defaults);
}

Qt::ItemFlags KLExclusionModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_list == KLExclusionList::PathFragments)
        f |= Qt::ItemIsEditable;
    return f;
}

QStringList KLExclusionModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

Qt::DropActions KLExclusionModel::supportedDropActions() const
{
    return Qt::CopyAction;
}

QStringList KLExclusionModel::droppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

bool KLExclusionModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int, const QModelIndex &) const
{
    return KLExclusionLists::acceptsDrop(m_list, droppedPaths(data));
}

bool KLExclusionModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int, int, const QModelIndex &)
{
    if (action == Qt::IgnoreAction)
        return true;
    return KLExclusionLists::acceptDrop(m_list, droppedPaths(data), m_defaults) > 0;
}

// ---- pane -----------------------------------------------------------------------------------

KLExclusionPane::KLExclusionPane(KLExclusionList list, Defaults &defaults, QWidget *parent)
    : QWidget(parent), m_list(list), m_defaults(defaults)
{
    setObjectName(keyFor(list, "Pane"));
    auto *explanation = new QLabel(KLLocalized(keyFor(list, "Explanation")), this);
    explanation->setWordWrap(true);

    m_model = new KLExclusionModel(list, defaults, this);
    m_table = new QTableView(this);
    m_table->setObjectName(keyFor(list, "Table"));
    m_table->setModel(m_model);
    m_table->setAccessibleName(KLLocalized(keyFor(list, "Table")));
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->hide();
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // One column: Tab leaves the list (the arrows move in it) and reaches its buttons.
    m_table->setTabKeyNavigation(false);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    // Drops of files from the file manager; the whole table is the target.
    m_table->setAcceptDrops(true);
    m_table->viewport()->setAcceptDrops(true);
    m_table->setDragDropMode(QAbstractItemView::DropOnly);
    m_table->setDragDropOverwriteMode(true);
    m_table->setDropIndicatorShown(false);
    m_table->setDefaultDropAction(Qt::CopyAction);
    m_table->installEventFilter(this);
    explanation->setBuddy(m_table);

    m_add = new QPushButton(KLLocalized(keyFor(list, "Add")), this);
    m_add->setObjectName(keyFor(list, "AddButton"));
    m_add->setAccessibleName(KLLocalized(keyFor(list, "Add")));
    m_remove = new QPushButton(KLLocalized(QStringLiteral("KLPrefRemoveSelected")), this);
    m_remove->setObjectName(keyFor(list, "RemoveButton"));
    m_remove->setAccessibleName(KLLocalized(QStringLiteral("KLPrefRemoveSelected")));
    m_remove->setEnabled(false);
    connect(m_add, &QPushButton::clicked, this, &KLExclusionPane::addEntries);
    connect(m_remove, &QPushButton::clicked, this, &KLExclusionPane::removeSelected);
    const auto followSelection = [this] { m_remove->setEnabled(m_table->selectionModel()->hasSelection()); };
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, followSelection);
    connect(m_model, &QAbstractItemModel::modelReset, this, followSelection);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
}

void KLExclusionPane::removeSelected()
{
    QList<int> rows;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty())
        return;
    KLExclusionLists::removeRows(m_list, rows, m_defaults);
}

void KLExclusionPane::addEntries()
{
    if (m_list == KLExclusionList::PathFragments) {
        // A placeholder row that the user types over at once. When one is already there (not
        // yet edited), that row is opened for editing instead of adding a twin.
        const QString placeholder = KLLocalized(QStringLiteral("double click to edit path fragment"));
        KLExclusionLists::addPath(m_list, placeholder, m_defaults);
        const int row = int(KLExclusionLists::entries(m_list, m_defaults).indexOf(placeholder));
        if (row >= 0) {
            const QModelIndex index = m_model->index(row);
            m_table->setCurrentIndex(index);
            m_table->edit(index);
        }
        return;
    }
    auto *chooser = new QFileDialog(window(), KLLocalized(keyFor(m_list, "Add")));
    chooser->setObjectName(keyFor(m_list, "Chooser"));
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setWindowModality(Qt::WindowModal);
    chooser->setDirectory(QDir::homePath());
    if (m_list == KLExclusionList::Folders) {
        chooser->setFileMode(QFileDialog::Directory);
        chooser->setOption(QFileDialog::ShowDirsOnly);
        chooser->setLabelText(QFileDialog::Accept, KLLocalized(QStringLiteral("DPChooseDirectoryButton")));
    } else {
        chooser->setFileMode(QFileDialog::ExistingFiles);
        chooser->setLabelText(QFileDialog::Accept, KLLocalized(m_list == KLExclusionList::Extensions
                                                                   ? QStringLiteral("DPChooseExtensionButton")
                                                                   : QStringLiteral("DPChooseItemButton")));
    }
    // Links resolved for folders and items, as chosen; an extension is the link's own.
    chooser->setOption(QFileDialog::DontResolveSymlinks, m_list == KLExclusionList::Extensions);
    connect(chooser, &QFileDialog::filesSelected, this, [this](const QStringList &paths) {
        for (const QString &path : paths)
            KLExclusionLists::addPath(m_list, path, m_defaults);
    });
    chooser->open();
}

bool KLExclusionPane::eventFilter(QObject *watched, QEvent *event)
{
    // An open cell editor has the focus and its own keys: these reach the table only outside it.
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            // The row the keyboard is on counts as chosen when nothing is selected: the focus
            // frame is all a keyboard user sees after tabbing into the table.
            if (!m_table->selectionModel()->hasSelection() && m_table->currentIndex().isValid())
                m_table->selectionModel()->select(m_table->currentIndex(),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
            removeSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
