#include "app/gui/prefs/KLPreferencesPanes.h"

#include "app/gui/KLHotKeySheet.h"
#include "app/gui/XPHotKeyControl.h"

#include "platform/Defaults.h"
#include "platform/XPSandboxUtils.h"
#include "prefs/KLColours.h"
#include "prefs/KLSettings.h"
#include "tags/XPFiledDocuments.h"
#include "util/Localized.h"
#include "util/Tilde.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace KLPreferencesPanes {

namespace {

QString t(const char *key)
{
    return KLLocalized(QString::fromUtf8(key));
}

// Calls `update` now and whenever `key` changes (queued when the change comes from another
// thread, through the context object).
void follow(Defaults &defaults, QObject *context, const QString &key, const std::function<void()> &update)
{
    update();
    QObject::connect(&defaults, &Defaults::changed, context, [key, update](const QString &changed) {
        if (changed == key)
            update();
    });
}

QIcon swatch(const QColor &colour)
{
    QPixmap pixmap(32, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    // A chequered ground shows through a translucent colour.
    for (int x = 0; x < 32; x += 8)
        for (int y = 0; y < 16; y += 8)
            painter.fillRect(x, y, 8, 8, ((x + y) / 8) % 2 ? Qt::lightGray : Qt::white);
    painter.fillRect(pixmap.rect(), colour);
    painter.setPen(Qt::gray);
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

// A folder setting shown in a read-only field, with a button that chooses another folder.
QWidget *folderRow(QWidget *parent, const QString &objectName, const QString &accessibleName, QLineEdit **field,
                   QPushButton **choose)
{
    auto *row = new QWidget(parent);
    *field = new QLineEdit(row);
    (*field)->setObjectName(objectName);
    (*field)->setReadOnly(true);
    (*field)->setAccessibleName(accessibleName);
    *choose = new QPushButton(t("KLPrefChooseFolder"), row);
    (*choose)->setObjectName(objectName + QStringLiteral("Choose"));
    (*choose)->setAccessibleName(accessibleName + QStringLiteral(": ") + t("KLPrefChooseFolder"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(*field, 1);
    layout->addWidget(*choose);
    return row;
}

QWidget *rootFolderRow(QWidget *parent)
{
    QLineEdit *field = nullptr;
    QPushButton *choose = nullptr;
    QWidget *row = folderRow(parent, QStringLiteral("rootFolder"), t("KLPrefRootFolder"), &field, &choose);
    const auto show = [field] {
        const QString chosen = XPSandboxUtils::rootFolderPath();
        field->setText(chosen.isEmpty() ? XPSandboxUtils::rootAccessURL().toLocalFile() : chosen);
    };
    show();
    QObject::connect(choose, &QPushButton::clicked, row, [row, show] {
        XPSandboxUtils::OpenPanelConfig config;
        XPSandboxUtils::prepareNSOpenPanel(&config);
        auto *chooser = new QFileDialog(row->window(), config.title);
        chooser->setObjectName(QStringLiteral("rootFolderChooser"));
        chooser->setAttribute(Qt::WA_DeleteOnClose);
        chooser->setWindowModality(Qt::WindowModal);
        chooser->setFileMode(QFileDialog::Directory);
        chooser->setOption(QFileDialog::ShowDirsOnly);
        chooser->setLabelText(QFileDialog::Accept, config.prompt);
        QObject::connect(chooser, &QFileDialog::urlSelected, row, [row, show](const QUrl &url) {
            if (const auto error = XPSandboxUtils::handleUserSelectedURL(url)) {
                QMessageBox::warning(row->window(), t("KLPrefRootFolder"), error->description);
                return;
            }
            show();
        });
        chooser->open();
    });
    return row;
}

QWidget *filedDocumentsRow(Defaults &defaults, QWidget *parent)
{
    QLineEdit *field = nullptr;
    QPushButton *choose = nullptr;
    QWidget *row =
        folderRow(parent, QStringLiteral("filedDocumentsFolder"), t("KLPrefFiledDocumentsFolder"), &field, &choose);
    follow(defaults, field, XPFiledDocuments::kFiledDocumentsPathKey, [&defaults, field] {
        const QString chosen = defaults.stringForKey(XPFiledDocuments::kFiledDocumentsPathKey);
        field->setText(chosen.isEmpty() ? QStringLiteral("~/Documents/Filed Documents") : chosen);
    });
    QObject::connect(choose, &QPushButton::clicked, row, [row, &defaults] {
        auto *chooser = new QFileDialog(row->window(), t("KLPrefFiledDocumentsFolder"));
        chooser->setObjectName(QStringLiteral("filedDocumentsChooser"));
        chooser->setAttribute(Qt::WA_DeleteOnClose);
        chooser->setWindowModality(Qt::WindowModal);
        chooser->setFileMode(QFileDialog::Directory);
        chooser->setOption(QFileDialog::ShowDirsOnly);
        QObject::connect(chooser, &QFileDialog::fileSelected, row, [&defaults](const QString &path) {
            defaults.setString(XPFiledDocuments::kFiledDocumentsPathKey,
                               PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(path));
            XPFiledDocuments::forgetRoot();
        });
        chooser->open();
    });
    return row;
}

// The combination in force, and the button that opens the sheet recording a new one (on the
// preferences window; Cancel there restores the old key).
QWidget *hotKeyRow(Defaults &defaults, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *current = new QLineEdit(row);
    current->setObjectName(QStringLiteral("hotKeyShown"));
    current->setReadOnly(true);
    current->setAccessibleName(t("KLPrefHotKey"));
    auto *change = new QPushButton(t("KLPrefChangeHotKey"), row);
    change->setObjectName(QStringLiteral("assignHotKeyButton"));
    change->setAccessibleName(t("KLPrefChangeHotKey"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(current, 1);
    layout->addWidget(change);
    const auto show = [current] {
        const QString text = XPHotKeyControl::menuShortcutText();
        current->setText(text.isEmpty() ? t("KLPrefHotKeyOff") : text);
    };
    for (const char *key : {"XPHotKeyKeyCode", "XPHotKeyCharacter", "XPModifierFlags", "XPUseGlobalHotKey"})
        follow(defaults, current, QString::fromUtf8(key), show);
    QObject::connect(change, &QPushButton::clicked, row, [row] {
        static QPointer<KLHotKeySheet> sheet;
        if (!sheet || sheet->parentWidget() != row->window()) {
            delete sheet;
            sheet = new KLHotKeySheet(row->window());
        }
        if (!sheet->isVisible())
            sheet->begin();
        sheet->raise();
        sheet->activateWindow();
    });
    return row;
}

QGroupBox *group(const char *titleKey, QWidget *parent)
{
    auto *box = new QGroupBox(t(titleKey), parent);
    box->setAccessibleName(t(titleKey));
    return box;
}

} // namespace

QCheckBox *boundCheckBox(Defaults &defaults, const QString &key, const QString &textKey, QWidget *parent, bool inverted)
{
    auto *box = new QCheckBox(KLLocalized(textKey), parent);
    box->setObjectName(key);
    box->setAccessibleName(KLLocalized(textKey));
    follow(defaults, box, key, [&defaults, box, key, inverted] {
        const QSignalBlocker quiet(box);
        box->setChecked(defaults.boolForKey(key) != inverted);
    });
    QObject::connect(box, &QCheckBox::toggled, box,
                     [&defaults, key, inverted](bool on) { defaults.setBool(key, on != inverted); });
    return box;
}

QComboBox *boundComboBox(Defaults &defaults, const QString &key, const QStringList &textKeys,
                         const QVariantList &values, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(key);
    for (const QString &textKey : textKeys)
        combo->addItem(KLLocalized(textKey));
    follow(defaults, combo, key, [&defaults, combo, key, values] {
        const QSignalBlocker quiet(combo);
        const QVariant now = defaults.value(key);
        int index = 0;
        for (int i = 0; i < values.size(); ++i)
            if (values[i].toString() == now.toString())
                index = i;
        combo->setCurrentIndex(index);
    });
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo, [&defaults, key, values](int index) {
        if (index >= 0 && index < values.size())
            defaults.setValue(key, values[index]);
    });
    return combo;
}

QPushButton *colourButton(Defaults &defaults, const QString &key, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(key);
    const QString name = KLLocalized(key);
    button->setAccessibleName(name);
    button->setToolTip(name);
    follow(defaults, button, key, [&defaults, button, key] {
        const QColor colour = KLColours::kpColorFromUserDefaultsForKey(defaults, key).value_or(Qt::transparent);
        button->setIcon(swatch(colour));
        button->setIconSize(QSize(32, 16));
        button->setText(colour.name(QColor::HexArgb));
    });
    QObject::connect(button, &QPushButton::clicked, button, [&defaults, button, key, name] {
        const QColor before = KLColours::kpColorFromUserDefaultsForKey(defaults, key).value_or(Qt::white);
        const QColor chosen = QColorDialog::getColor(before, button->window(), name, QColorDialog::ShowAlphaChannel);
        if (chosen.isValid())
            KLColours::setColour(defaults, key, chosen);
    });
    return button;
}

QString waylandNote(const QString &platformName)
{
    if (!platformName.startsWith(QLatin1String("wayland")))
        return QString();
    return t("KLPrefWaylandNote");
}

QWidget *makeGeneralPane(Defaults &defaults, QWidget *parent)
{
    auto *pane = new QWidget(parent);
    pane->setObjectName(QStringLiteral("KLPrefGeneralPane"));

    auto *window = group("KLPrefWindowGroup", pane);
    auto *windowForm = new QFormLayout(window);
    QComboBox *mode =
        boundComboBox(defaults, QStringLiteral("KPRunInDock"),
                      {QStringLiteral("KLPrefModeTray"), QStringLiteral("KLPrefModeDock")}, {false, true}, window);
    mode->setAccessibleName(t("KLPrefMode"));
    windowForm->addRow(t("KLPrefMode"), mode);
    windowForm->addRow(boundCheckBox(defaults, QStringLiteral("KLFadeIn"), QStringLiteral("KLPrefFadeIn"), window));
    windowForm->addRow(boundCheckBox(defaults, QStringLiteral("KLKelsoShowOnActiveScreen"),
                                     QStringLiteral("KLPrefShowOnActiveScreen"), window));
    windowForm->addRow(
        boundCheckBox(defaults, QStringLiteral("XPUseGlobalHotKey"), QStringLiteral("KLPrefUseGlobalHotKey"), window));
    windowForm->addRow(t("KLPrefHotKey"), hotKeyRow(defaults, window));

    auto *files = group("KLPrefFilesGroup", pane);
    auto *filesForm = new QFormLayout(files);
    filesForm->addRow(boundCheckBox(defaults, QStringLiteral("KLIncludeFileOpenedEvents"),
                                    QStringLiteral("KLPrefIncludeOpened"), files));
    filesForm->addRow(
        boundCheckBox(defaults, QStringLiteral("KLAlwaysCopyOnDrag"), QStringLiteral("KLPrefCopyOnDrag"), files));
    filesForm->addRow(boundCheckBox(defaults, QStringLiteral("KPUseCommas"), QStringLiteral("KLPrefUseCommas"), files));

    auto *zone = group("KLPrefDropZoneGroup", pane);
    auto *zoneForm = new QFormLayout(zone);
    zoneForm->addRow(
        boundCheckBox(defaults, QStringLiteral("KPShowDropZone2"), QStringLiteral("KLPrefShowDropZone"), zone));
    QComboBox *edge =
        boundComboBox(defaults, QStringLiteral("KPDropZoneLeftEdge"),
                      {QStringLiteral("KLPrefEdgeRight"), QStringLiteral("KLPrefEdgeLeft")}, {false, true}, zone);
    edge->setAccessibleName(t("KLPrefDropZoneEdge"));
    zoneForm->addRow(t("KLPrefDropZoneEdge"), edge);
    zoneForm->addRow(boundCheckBox(defaults, QStringLiteral("KPAutoAddDragsAndSuchToCooler"),
                                   QStringLiteral("KLPrefAutoAddDrags"), zone));

    auto *layout = new QVBoxLayout(pane);
    const QString note = waylandNote(QGuiApplication::platformName());
    if (!note.isEmpty()) {
        auto *label = new QLabel(note, pane);
        label->setObjectName(QStringLiteral("waylandNote"));
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label->setFocusPolicy(Qt::StrongFocus);
        label->setAccessibleName(note);
        layout->addWidget(label);
    }
    layout->addWidget(window);
    layout->addWidget(files);
    layout->addWidget(zone);
    layout->addStretch(1);
    return pane;
}

QWidget *makeAdvancedPane(Defaults &defaults, QWidget *parent)
{
    auto *pane = new QWidget(parent);
    pane->setObjectName(QStringLiteral("KLPrefAdvancedPane"));

    auto *colours = group("KLPrefColoursGroup", pane);
    auto *colourForm = new QFormLayout(colours);
    for (const QString &key : KLSettings::colourKeys())
        colourForm->addRow(KLLocalized(key), colourButton(defaults, key, colours));
    auto *reset = new QPushButton(t("KLPrefResetColours"), colours);
    reset->setObjectName(QStringLiteral("resetColours"));
    reset->setAccessibleName(t("KLPrefResetColours"));
    QObject::connect(reset, &QPushButton::clicked, reset, [&defaults] { KLSettings::resetColours(defaults); });
    colourForm->addRow(reset);

    auto *tags = group("KLPrefTagsGroup", pane);
    auto *tagsForm = new QFormLayout(tags);
    QComboBox *store = boundComboBox(defaults, QStringLiteral("KLTagStore"),
                                     {QStringLiteral("KLPrefTagStoreSystem"), QStringLiteral("KLPrefTagStoreLumitag")},
                                     {QStringLiteral("system"), QStringLiteral("lumitag")}, tags);
    store->setAccessibleName(t("KLPrefTagStore"));
    tagsForm->addRow(t("KLPrefTagStore"), store);
    tagsForm->addRow(boundCheckBox(defaults, QStringLiteral("XPSkipTagAutoComplete"),
                                   QStringLiteral("KLPrefTagAutoComplete"), tags, true));

    auto *files = group("KLPrefFilingGroup", pane);
    auto *filesForm = new QFormLayout(files);
    filesForm->addRow(boundCheckBox(defaults, QStringLiteral("KPDONTWarnAboutTrashingFiles"),
                                    QStringLiteral("KLPrefWarnTrash"), files, true));
    filesForm->addRow(t("KLPrefFiledDocumentsFolder"), filedDocumentsRow(defaults, files));
    filesForm->addRow(
        boundCheckBox(defaults, XPFiledDocuments::kUseYearMonthKey, QStringLiteral("KLPrefYearMonth"), files));
    filesForm->addRow(t("KLPrefRootFolder"), rootFolderRow(files));

    auto *layout = new QVBoxLayout(pane);
    layout->addWidget(colours);
    layout->addWidget(tags);
    layout->addWidget(files);
    layout->addStretch(1);
    return pane;
}

} // namespace KLPreferencesPanes
