#include "fileops/gui/XPApplicationChooser.h"

#include "fileops/gui/XPIcons.h"
#include "util/Localized.h"

#include <QCollator>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <algorithm>

namespace {
constexpr int kDesktopPathRole = Qt::UserRole + 1;
constexpr int kSearchTextRole = Qt::UserRole + 2;
} // namespace

XPApplicationChooser::XPApplicationChooser(const QString &documentPath, QWidget *parent)
    : XPApplicationChooser(documentPath, Apps::allApplications(), parent)
{
}

XPApplicationChooser::XPApplicationChooser(const QString &documentPath, const QList<Apps::AppInfo> &apps,
                                           QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("applicationChooser"));
    setWindowTitle(KLLocalized(QStringLiteral("XPChooseApplicationTitle")));
    // A small dialog: no minimise or maximise buttons.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const QString name = documentPath.section(QLatin1Char('/'), -1);

    m_prompt = new QLabel(KLLocalized(QStringLiteral("XPChooseApplicationPrompt"), {name}), this);
    m_prompt->setWordWrap(true);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("applicationSearch"));
    m_search->setPlaceholderText(KLLocalized(QStringLiteral("XPChooseApplicationSearch")));
    m_search->setAccessibleName(KLLocalized(QStringLiteral("XPChooseApplicationSearch")));
    m_search->setClearButtonEnabled(true);
    m_prompt->setBuddy(m_search);

    m_model = new QStandardItemModel(this);
    QList<Apps::AppInfo> sorted = apps;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(sorted.begin(), sorted.end(), [&](const Apps::AppInfo &a, const Apps::AppInfo &b) {
        return collator.compare(a.name, b.name) < 0;
    });
    QStringList seen;
    for (const Apps::AppInfo &app : std::as_const(sorted)) {
        if (!app.isValid() || seen.contains(app.desktopPath))
            continue;
        seen.append(app.desktopPath);
        const QString title = app.name.isEmpty() ? app.id : app.name;
        auto *item = new QStandardItem(title);
        item->setEditable(false);
        item->setData(app.desktopPath, kDesktopPathRole);
        item->setData(title + QLatin1Char('\n') + app.id, kSearchTextRole);
        item->setToolTip(app.desktopPath);
        item->setData(title, Qt::AccessibleTextRole);
        QIcon icon = XPIcons::iconForApplication(app.iconNames, app.iconFile);
        item->setIcon(icon.isNull() ? XPIcons::emptyIcon() : icon);
        m_model->appendRow(item);
    }
    m_filter = new QSortFilterProxyModel(this);
    m_filter->setSourceModel(m_model);
    m_filter->setFilterRole(kSearchTextRole);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("applicationList"));
    m_list->setAccessibleName(KLLocalized(QStringLiteral("XPChooseApplicationList")));
    m_list->setModel(m_filter);
    m_list->setIconSize(QSize(24, 24));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto *buttons = new QDialogButtonBox(this);
    m_open = buttons->addButton(KLLocalized(QStringLiteral("XPChooseApplicationOpen")), QDialogButtonBox::AcceptRole);
    m_open->setObjectName(QStringLiteral("openButton"));
    m_open->setDefault(true);
    QPushButton *cancel = buttons->addButton(KLLocalized(QStringLiteral("Cancel")), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!selectedApplication().isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_search);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(380, 460);

    connect(m_search, &QLineEdit::textChanged, this, &XPApplicationChooser::filterChanged);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &XPApplicationChooser::updateOpenButton);
    connect(m_list, &QListView::activated, this, [this] {
        if (!selectedApplication().isEmpty())
            accept();
    });
    m_search->installEventFilter(this);
    setTabOrder(m_search, m_list);
    m_search->setFocus(Qt::OtherFocusReason);
    selectFirstIfNone();
    updateOpenButton();
}

QString XPApplicationChooser::selectedApplication() const
{
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QString() : selected.first().data(kDesktopPathRole).toString();
}

QStringList XPApplicationChooser::visibleNames() const
{
    QStringList out;
    for (int row = 0; row < m_filter->rowCount(); ++row)
        out.append(m_filter->index(row, 0).data().toString());
    return out;
}

void XPApplicationChooser::filterChanged(const QString &text)
{
    m_filter->setFilterFixedString(text.trimmed());
    selectFirstIfNone();
    updateOpenButton();
}

void XPApplicationChooser::selectFirstIfNone()
{
    if (m_list->selectionModel()->hasSelection() || m_filter->rowCount() == 0)
        return;
    const QModelIndex first = m_filter->index(0, 0);
    m_list->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
}

void XPApplicationChooser::updateOpenButton()
{
    m_open->setEnabled(!selectedApplication().isEmpty());
}

bool XPApplicationChooser::eventFilter(QObject *watched, QEvent *event)
{
    // Up and Down in the search field move the selection in the list, so that the keyboard
    // never has to leave the field.
    if (watched == m_search && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) &&
            m_filter->rowCount() > 0) {
            const QModelIndex current = m_list->currentIndex();
            int row = current.isValid() ? current.row() : -1;
            const int page = 8;
            if (key == Qt::Key_Up)
                row -= 1;
            else if (key == Qt::Key_Down)
                row += 1;
            else if (key == Qt::Key_PageUp)
                row -= page;
            else
                row += page;
            row = std::clamp(row, 0, m_filter->rowCount() - 1);
            const QModelIndex next = m_filter->index(row, 0);
            m_list->selectionModel()->setCurrentIndex(next, QItemSelectionModel::ClearAndSelect);
            m_list->scrollTo(next);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString XPApplicationChooser::chooseApplication(const QString &documentPath, QWidget *parent)
{
    XPApplicationChooser dialog(documentPath, parent);
    dialog.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedApplication();
}
