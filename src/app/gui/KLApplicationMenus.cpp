#include "app/gui/KLApplicationMenus.h"

#include "platform/Defaults.h"
#include "prefs/KLColours.h"
#include "util/Localized.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

namespace KLApplicationMenus {

namespace {

QDialog *smallDialog(QWidget *parent, const QString &objectName, const QString &title)
{
    auto *dialog = new QDialog(parent ? parent->window() : nullptr);
    dialog->setObjectName(objectName);
    dialog->setWindowTitle(title);
    // A small window: no minimise or maximise buttons.
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

void bringForward(QDialog *dialog, bool centre)
{
    if (centre) {
        dialog->adjustSize();
        const QWidget *over = dialog->parentWidget();
        const QRect area = over && over->isVisible() ? over->frameGeometry()
                           : dialog->screen()        ? dialog->screen()->availableGeometry()
                                                     : QRect();
        if (area.isValid())
            dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

} // namespace

QString releasePageUrl()
{
    const QUrl feed(Defaults::standard().stringForKey(QStringLiteral("SUFeedURL")));
    if (!feed.isValid() || feed.scheme() != QLatin1String("https"))
        return QString();
    // ".../releases/appcast.xml" -> ".../releases"
    return feed.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toString();
}

QString projectPageUrl()
{
    const QUrl feed(Defaults::standard().stringForKey(QStringLiteral("SUFeedURL")));
    if (!feed.isValid() || feed.scheme() != QLatin1String("https") || feed.host().isEmpty())
        return QString();
    QUrl site;
    site.setScheme(feed.scheme());
    site.setHost(feed.host());
    site.setPort(feed.port());
    site.setPath(QStringLiteral("/"));
    return site.toString();
}

QString helpPageUrl()
{
    const QString site = projectPageUrl();
    return site.isEmpty() ? QString() : site + QStringLiteral("help");
}

QString licenceName()
{
    // No public licence has been chosen yet; the About box must not claim one.
    return QStringLiteral("all rights reserved by the Kelso developers");
}

QDialog *showAboutBox(QWidget *parent)
{
    static QPointer<QDialog> box;
    if (box) {
        bringForward(box, !box->isVisible());
        return box;
    }
    box = smallDialog(parent, QStringLiteral("aboutBox"), KLLocalized(QStringLiteral("KLAboutTitle")));
    auto *icon = new QLabel(box);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/kelso.svg")).pixmap(64, 64));
    icon->setAlignment(Qt::AlignHCenter);
    icon->setAccessibleName(KLLocalized(QStringLiteral("KLAboutIcon")));
    auto *name = new QLabel(QStringLiteral("<b>Kelso</b>"), box);
    name->setAlignment(Qt::AlignHCenter);
    auto *version =
        new QLabel(KLLocalized(QStringLiteral("KLAboutVersion"), {QApplication::applicationVersion()}), box);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setAlignment(Qt::AlignHCenter);
    auto *blurb = new QLabel(KLLocalized(QStringLiteral("KLAboutText")), box);
    blurb->setWordWrap(true);
    blurb->setAlignment(Qt::AlignHCenter);
    auto *licence = new QLabel(KLLocalized(QStringLiteral("KLAboutLicence"), {licenceName()}), box);
    licence->setObjectName(QStringLiteral("aboutLicence"));
    licence->setAlignment(Qt::AlignHCenter);
    // The project page opens in the web browser; the link takes Tab and Return.
    auto *page = new QLabel(box);
    page->setObjectName(QStringLiteral("aboutProjectPage"));
    page->setAlignment(Qt::AlignHCenter);
    const QString site = projectPageUrl();
    page->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                      .arg(site.toHtmlEscaped(), KLLocalized(QStringLiteral("KLAboutProjectPage")).toHtmlEscaped()));
    page->setTextInteractionFlags(Qt::TextBrowserInteraction);
    page->setOpenExternalLinks(true);
    page->setAccessibleName(KLLocalized(QStringLiteral("KLAboutProjectPage")) + QStringLiteral(": ") + site);
    page->setVisible(!site.isEmpty());
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, box);
    buttons->button(QDialogButtonBox::Close)->setText(KLLocalized(QStringLiteral("KLClose")));
    QObject::connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::close);
    auto *layout = new QVBoxLayout(box);
    for (QWidget *w : {static_cast<QWidget *>(icon), static_cast<QWidget *>(name), static_cast<QWidget *>(version),
                       static_cast<QWidget *>(blurb), static_cast<QWidget *>(licence), static_cast<QWidget *>(page),
                       static_cast<QWidget *>(buttons)})
        layout->addWidget(w);
    box->setFixedWidth(320);
    bringForward(box, true);
    return box;
}

QList<QPair<QString, QString>> keyboardShortcuts()
{
    const auto t = [](const char *key) { return KLLocalized(QString::fromUtf8(key)); };
    return {
        {t("KLKeyOpen"), t("DPOpenExternally")},     {t("KLKeyRename"), t("Rename…")},
        {t("KLKeyReturn"), t("DPEditTagsMenuItem")}, {t("KLKeySpace"), t("KLKeySpaceDoes")},
        {t("KLKeyArrows"), t("KLKeyArrowsDo")},      {t("KLKeyDelete"), t("DPMenuItemRemoveFromKelso")},
        {t("KLKeyMenu"), t("KLKeyMenuDoes")},        {t("KLKeyEscape"), t("KLKeyEscapeDoes")},
        {t("KLKeyFind"), t("KLKeyFindDoes")},        {t("KLKeyQuit"), t("Quit Kelso")},
    };
}

QDialog *showKeyboardShortcuts(QWidget *parent)
{
    static QPointer<QDialog> window;
    if (window) {
        bringForward(window, false);
        return window;
    }
    window =
        smallDialog(parent, QStringLiteral("keyboardShortcuts"), KLLocalized(QStringLiteral("KLKeyboardShortcuts")));
    auto *form = new QFormLayout;
    for (const auto &[key, does] : keyboardShortcuts()) {
        auto *keyLabel = new QLabel(QStringLiteral("<b>%1</b>").arg(key.toHtmlEscaped()), window);
        auto *doesLabel = new QLabel(does, window);
        keyLabel->setBuddy(doesLabel);
        doesLabel->setAccessibleName(key + QStringLiteral(": ") + does);
        form->addRow(keyLabel, doesLabel);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
    buttons->button(QDialogButtonBox::Close)->setText(KLLocalized(QStringLiteral("KLClose")));
    QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
    auto *layout = new QVBoxLayout(window);
    layout->addLayout(form);
    layout->addWidget(buttons);
    bringForward(window, true);
    return window;
}

void styleMenuBar(QMenuBar *bar)
{
    if (!bar)
        return;
    QColor panel = KLColours::kpColorFromUserDefaultsForKey(QStringLiteral("KLKelsoBackgroundColour"))
                       .value_or(QColor::fromRgbF(0.16f, 0.18f, 0.16f));
    panel.setAlpha(255);
    const QColor text = panel.lightnessF() < 0.5 ? QColor(235, 235, 235) : QColor(20, 20, 20);
    const QColor selected = panel.lightnessF() < 0.5 ? panel.lighter(160) : panel.darker(130);
    bar->setStyleSheet(QStringLiteral("QMenuBar { background-color: %1; color: %2; }"
                                      "QMenuBar::item { background: transparent; color: %2; padding: 3px 8px; }"
                                      "QMenuBar::item:selected, QMenuBar::item:pressed { background-color: %3; }")
                           .arg(panel.name(), text.name(), selected.name()));
}

} // namespace KLApplicationMenus
